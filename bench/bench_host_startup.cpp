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

void run(benchmark::State& state, const char* program, bool ask) {
    Fixture& f = fixture();
    for (auto _ : state) {
        testsupport::HostProcess process(program, f.session.environment());
        if (ask) {
            process.writeMessage(R"({"type":"accounts","host":"example.org"})");
            const auto reply = process.readMessage(20s);
            if (!reply || reply->find("\"ok\":true") == std::string::npos) {
                state.SkipWithError("the host did not answer");
                break;
            }
        }
        process.closeInput();
        benchmark::DoNotOptimize(process.waitForExit(20s));
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

} // namespace
} // namespace tallowin

BENCHMARK_MAIN();
