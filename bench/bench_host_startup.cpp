// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up cost of the native-messaging host: started cold and answering one "accounts"
// request for 100 accounts with a valid unlock session (in a private gnome-keyring),
// against a trivial program linked with the same libraries that does nothing.

#include "HostProcess.h"
#include "SecretServiceSession.h"
#include "core/FileIO.h"
#include "core/SharedConfiguration.h"
#include "core/SharedDefaults.h"
#include "core/UnlockSession.h"
#include "core/VaultEnvelope.h"
#include "platform/SecretServiceKeychain.h"

#include <benchmark/benchmark.h>

namespace tallowin {
namespace {

using namespace std::chrono_literals;

struct Fixture {
    Fixture() {
        const UserDirectories directories = session.userDirectories();
        const auto shared = sharedDirectory(directories);
        std::filesystem::create_directories(shared);
        SharedDefaults defaults(sharedDefaultsFile(directories));
        (void)defaults.setDate("lastPasswordEntry", systemClock().now());
        std::vector<Account> accounts;
        for (int i = 0; i < 100; ++i) {
            AccountDraft draft{"Service " + std::to_string(i),
                               "user@example.org",
                               "JBSWY3DPEHPK3PXP",
                               OTPAlgorithm::sha1,
                               6,
                               30};
            accounts.push_back(makeAccount(draft, "DEVICE", systemClock().now()));
        }
        const VaultKey key = newVaultKey();
        VaultEnvelope envelope = makeEnvelopeHeader(kVaultFormat, "password", key, "host",
                                                    systemClock().now(), systemRandom(), 1);
        envelope.payload = sealContents(accounts, key);
        (void)writeFileAtomically(shared / "vault.tlwvault", encodeEnvelope(envelope));
        SecretServiceKeychain keychain(session.keychainOptions());
        UnlockSession(keychain, defaults, systemClock()).save(key);
    }
    testsupport::SecretServiceSession session;
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

/// Starts `program`, asks it for the accounts when `ask`, and waits for it to end. False
/// when the host did not answer.
bool runOnce(const Fixture& f, const char* program, bool ask) {
    testsupport::HostProcess process(program, f.session.environment());
    if (ask) {
        process.writeMessage(R"({"type":"accounts","host":"example.org"})");
        const auto reply = process.readMessage(20s);
        if (!reply || reply->find("\"ok\":true") == std::string::npos) {
            return false;
        }
    }
    process.closeInput();
    benchmark::DoNotOptimize(process.waitForExit(20s));
    return true;
}

void run(benchmark::State& state, const char* program, bool ask) {
    Fixture& f = fixture();
    for (auto _ : state) {
        if (!runOnce(f, program, ask)) {
            state.SkipWithError("the host did not answer");
            break;
        }
    }
}

void BM_HostColdAccounts100(benchmark::State& state) {
    run(state, TALLOWIN_CHROME_HOST, true);
}
BENCHMARK(BM_HostColdAccounts100)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

void BM_TrivialProgramSameLibraries(benchmark::State& state) {
    run(state, TALLOWIN_HOST_BASELINE, false);
}
BENCHMARK(BM_TrivialProgramSameLibraries)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(40);

/// Both programs in turn, so that a busy machine slows both alike: the "ratio" counter is
/// the host's total time over the trivial program's (the goal is at most 2).
void BM_HostOverTrivialProgram(benchmark::State& state) {
    Fixture& f = fixture();
    std::chrono::nanoseconds host{0};
    std::chrono::nanoseconds trivial{0};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!runOnce(f, TALLOWIN_CHROME_HOST, true)) {
            state.SkipWithError("the host did not answer");
            break;
        }
        const auto middle = std::chrono::steady_clock::now();
        runOnce(f, TALLOWIN_HOST_BASELINE, false);
        host += middle - start;
        trivial += std::chrono::steady_clock::now() - middle;
    }
    const auto milliseconds = [&](std::chrono::nanoseconds total) {
        return std::chrono::duration<double, std::milli>(total).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["host_ms"] = milliseconds(host);
    state.counters["trivial_ms"] = milliseconds(trivial);
    state.counters["ratio"] = trivial.count() > 0 ? static_cast<double>(host.count()) /
                                                        static_cast<double>(trivial.count())
                                                  : 0.0;
}
BENCHMARK(BM_HostOverTrivialProgram)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(60);

} // namespace
} // namespace tallowin

BENCHMARK_MAIN();
