// SPDX-License-Identifier: GPL-3.0-or-later
// The extension handler's "accounts" reply for 1,000 accounts (twenty codes each, key
// from the unlock session), against its floor: reading and opening the same vault.

#include "browser/ExtensionHandler.h"
#include "core/FileIO.h"
#include "core/SharedDefaults.h"
#include "core/UnlockSession.h"
#include "core/VaultEnvelope.h"
#include "platform/InMemoryKeychain.h"
#include "platform/ScriptedBiometrics.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

namespace tallowin {
namespace {

const Date kNow = Date::fromUnix(1772720103);

struct Fixture {
    Fixture() {
        directory = std::filesystem::temp_directory_path() /
                    ("tallowin-bench-browser-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        defaults = std::make_unique<SharedDefaults>(directory / "settings.json");
        (void)defaults->setDate("lastPasswordEntry", kNow);
        const char* issuers[] = {"GitHub",       "Google",  "Amazon Web Services",
                                 "Example Bank", "Dropbox", "acme"};
        for (int i = 0; i < 1000; ++i) {
            AccountDraft draft{std::string(issuers[i % 6]) + " " + std::to_string(i),
                               "user" + std::to_string(i) + "@example.org",
                               "JBSWY3DPEHPK3PXPJBSWY3DPEHPK3PXP",
                               i % 3 == 0 ? OTPAlgorithm::sha256 : OTPAlgorithm::sha1,
                               6,
                               30};
            Account account = makeAccount(draft, "DEVICE", kNow);
            if (i % 10 == 0) {
                account.websites = {"sso.example" + std::to_string(i) + ".com"};
            }
            accounts.push_back(std::move(account));
        }
        VaultEnvelope envelope =
            makeEnvelopeHeader(kVaultFormat, "password", key, "host", kNow, systemRandom(), 1);
        envelope.payload = sealContents(accounts, key);
        (void)writeFileAtomically(directory / "vault.tlwvault", encodeEnvelope(envelope));
        UnlockSession(keychain, *defaults, clock).save(key);
        environment = {directory, defaults.get(), &keychain, &biometrics, &clock};
    }
    ~Fixture() { std::filesystem::remove_all(directory); }

    std::filesystem::path directory;
    std::unique_ptr<SharedDefaults> defaults;
    InMemoryKeychain keychain;
    ScriptedBiometrics biometrics;
    FixedClock clock{kNow};
    VaultKey key = newVaultKey();
    std::vector<Account> accounts;
    ExtensionEnvironment environment;
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

void BM_AccountsReply1000(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        Json reply = accountsReply("https://www.github.com/login", f.environment);
        benchmark::DoNotOptimize(reply);
    }
}
BENCHMARK(BM_AccountsReply1000)->Unit(benchmark::kMillisecond);

// Floor: read the file, decode the envelope and decrypt the accounts.
void BM_ReadAndOpenVault1000(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        Bytes bytes;
        (void)readFile(f.directory / "vault.tlwvault", bytes, kMaxVaultFileBytes);
        auto accounts = openContents(decodeEnvelope(bytes), f.key);
        benchmark::DoNotOptimize(accounts);
    }
}
BENCHMARK(BM_ReadAndOpenVault1000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tallowin

BENCHMARK_MAIN();
