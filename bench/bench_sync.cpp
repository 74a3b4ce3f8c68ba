// SPDX-License-Identifier: GPL-3.0-or-later
// A sync pass over 1,000 accounts with one conflict copy, on local folders (goal: under 50 ms),
// against the floor of the same pass: opening the three copies and sealing the result
// (BM_CryptoFloor1000), and against a pass that finds nothing to write (BM_SyncPassUnchanged1000).

#include "core/AccountMerge.h"
#include "core/FileIO.h"
#include "core/SharedDefaults.h"
#include "core/VaultEnvelope.h"
#include "platform/InMemoryKeychain.h"
#include "platform/ScriptedBiometrics.h"
#include "platform/ScriptedCloudDrive.h"
#include "vault/VaultStore.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QTimeZone>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace tallowin {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "correct horse battery staple";
constexpr const char* kConflictName = "vault.sync-conflict-20260305-141503-ABCDEF1.tlwvault";

double fastest(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

std::vector<AccountDraft> realisticDrafts(std::size_t count) {
    static const char* const issuers[] = {"GitHub",  "Google",          "Amazon Web Services",
                                          "Dropbox", "Mastodon",        "Caf\u00E9 M\u00FCller",
                                          "Proton",  "Bank of Examples"};
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::vector<AccountDraft> drafts;
    for (std::size_t i = 0; i < count; ++i) {
        std::string secret = "JBSWY3DPEHPK3PXP";
        for (std::size_t value = i, d = 0; d < 4; ++d, value /= 32) {
            secret += digits[value % 32];
        }
        drafts.push_back({issuers[i % 8], "user" + std::to_string(i) + "@example.org", secret,
                          OTPAlgorithm::sha1, 6, 30});
    }
    return drafts;
}

/// A computer with a vault of 1,000 accounts whose cloud drive is a local folder.
class Computer {
public:
    Computer() : defaults_(root() / "settings.json") {
        fs::create_directories(root() / "shared");
        fs::create_directories(root() / "Sync");
        VaultStoreEnvironment environment;
        environment.sharedDirectory = root() / "shared";
        environment.cloudDrive =
            std::make_shared<ScriptedCloudDrive>(root() / "Sync" / "iCloud.com.tallowin.app");
        environment.defaults = &defaults_;
        environment.keychain = &keychain_;
        environment.biometrics = &biometrics_;
        environment.clock = &clock_;
        environment.computerName = "Bench";
        environment.timeZone = QTimeZone(0);
        environment.kdfIterations = 1000;
        store_ = std::make_unique<VaultStore>(environment);
        QCoro::waitFor(store_->start());
        QCoro::waitFor(store_->createVault(kPassword));
        store_->addDrafts(realisticDrafts(1000));
        std::vector<Account> accounts = store_->all();
        for (std::size_t i = 0; i < accounts.size(); i += 3) {
            accounts[i].websites = {"example.org", "login.example.org"};
            store_->updateAccount(accounts[i]);
        }
        QCoro::waitFor(store_->sync(false));
        if (store_->all().size() != 1000 || store_->syncStatus().kind != SyncStatus::idle) {
            throw std::runtime_error("the bench vault was not written");
        }
        key_ = unwrapVaultKey(decodeEnvelope(read(localVault())), kPassword);
        // Each measured pass is one the bench asked for, not one started by the folder watch.
        store_->storage().onRemoteChange = nullptr;
    }
    ~Computer() {
        store_.reset();
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    [[nodiscard]] VaultStore& store() { return *store_; }
    [[nodiscard]] const VaultKey& key() const { return key_; }
    [[nodiscard]] fs::path localVault() const { return root() / "shared" / "vault.tlwvault"; }
    [[nodiscard]] fs::path documents() const {
        return root() / "Sync" / "iCloud.com.tallowin.app" / "Documents";
    }
    [[nodiscard]] FixedClock& clock() { return clock_; }

    static Bytes read(const fs::path& path) {
        Bytes bytes;
        if (readFile(path, bytes, kMaxVaultFileBytes)) {
            throw std::runtime_error("cannot read " + path.string());
        }
        return bytes;
    }

    /// The vault as another computer saved it after changing one account.
    [[nodiscard]] Bytes conflictVersion() {
        VaultEnvelope envelope = decodeEnvelope(read(localVault()));
        std::vector<Account> accounts = openContents(envelope, key_);
        accounts[500].label = "changed elsewhere";
        accounts[500].updatedAt = clock_.now().adding(1);
        accounts[500].updatedBy = "OTHER";
        envelope.payload = sealContents(accounts, key_);
        envelope.savedBy = "Other";
        return encodeEnvelope(envelope);
    }

private:
    [[nodiscard]] const fs::path& root() const { return root_; }

    fs::path root_ = [] {
        std::string pattern = (fs::temp_directory_path() / "tallowin-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            throw std::runtime_error("mkdtemp failed");
        }
        return fs::path(pattern);
    }();
    SharedDefaults defaults_;
    InMemoryKeychain keychain_;
    ScriptedBiometrics biometrics_{false, BiometryType::none};
    FixedClock clock_{Date::fromUnix(1772720103)};
    std::unique_ptr<VaultStore> store_;
    VaultKey key_;
};

void BM_SyncPass1000(benchmark::State& state) {
    Computer computer;
    const Bytes conflict = computer.conflictVersion();
    for (auto _ : state) {
        state.PauseTiming();
        if (writeFileAtomically(computer.documents() / kConflictName, conflict)) {
            state.SkipWithError("cannot write the conflict copy");
            break;
        }
        state.ResumeTiming();
        QCoro::waitFor(computer.store().sync(false));
    }
    if (fs::exists(computer.documents() / kConflictName) ||
        computer.store().syncStatus().kind != SyncStatus::idle) {
        state.SkipWithError("the conflict copy was not resolved");
    }
}
BENCHMARK(BM_SyncPass1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", fastest);

void BM_SyncPassUnchanged1000(benchmark::State& state) {
    Computer computer;
    for (auto _ : state) {
        QCoro::waitFor(computer.store().sync(false));
    }
}
BENCHMARK(BM_SyncPassUnchanged1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", fastest);

/// What any pass over these copies must do: open the local copy, the cloud copy and the
/// conflict copy, merge them, and seal and encode the result once.
void BM_CryptoFloor1000(benchmark::State& state) {
    Computer computer;
    const Bytes local = Computer::read(computer.localVault());
    const Bytes cloud = Computer::read(computer.documents() / "vault.tlwvault");
    const Bytes conflict = computer.conflictVersion();
    for (auto _ : state) {
        const std::vector<Account> a = openContents(decodeEnvelope(local), computer.key());
        const std::vector<Account> b = openContents(decodeEnvelope(cloud), computer.key());
        const std::vector<Account> c = openContents(decodeEnvelope(conflict), computer.key());
        const std::vector<Account>* lists[] = {&a, &b, &c};
        const std::vector<Account> merged = mergeAccounts(lists, computer.clock().now());
        VaultEnvelope envelope = decodeEnvelope(local);
        envelope.payload = sealContents(merged, computer.key());
        const Bytes file = encodeEnvelope(envelope);
        benchmark::DoNotOptimize(file.data());
    }
}
BENCHMARK(BM_CryptoFloor1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", fastest);

} // namespace
} // namespace tallowin

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
