// SPDX-License-Identifier: GPL-3.0-or-later
// Extension requests as a browser could send them, answered against a small vault with a
// valid unlock session. Every request must get a reply object with "ok".

#include "browser/BoundedJSON.h"
#include "browser/ExtensionHandler.h"
#include "browser/NativeMessaging.h"
#include "core/FileIO.h"
#include "core/SharedDefaults.h"
#include "core/UnlockSession.h"
#include "core/VaultEnvelope.h"
#include "platform/InMemoryKeychain.h"
#include "platform/ScriptedBiometrics.h"

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {
using namespace tallowin;

const Date kNow = Date::fromUnix(1772720103);

struct World {
    World() {
        directory = std::filesystem::temp_directory_path() / ("tallowin-fuzz-request-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        defaults = std::make_unique<SharedDefaults>(directory / "settings.json");
        (void)defaults->setDate("lastPasswordEntry", kNow);
        std::vector<Account> accounts;
        for (const auto& [issuer, label, secret] : {std::tuple{"GitHub", "me", "JBSWY3DPEHPK3PXP"},
                                                    std::tuple{"", "bank.example", "GEZDGNBVGY3TQOJQ"},
                                                    std::tuple{"Broken", "", "not base32"}}) {
            accounts.push_back(makeAccount(AccountDraft{issuer, label, secret}, "D", kNow));
        }
        accounts[0].websites = {"github.com"};
        accounts[1].period = 0;
        VaultEnvelope envelope = makeEnvelopeHeader(kVaultFormat, "pw", key, "host", kNow, systemRandom(), 1);
        envelope.payload = sealContents(accounts, key);
        (void)writeFileAtomically(directory / "vault.tlwvault", encodeEnvelope(envelope));
        UnlockSession(keychain, *defaults, clock).save(key);
        environment = {directory, defaults.get(), &keychain, &biometrics, &clock};
    }

    std::filesystem::path directory;
    std::unique_ptr<SharedDefaults> defaults;
    InMemoryKeychain keychain;
    ScriptedBiometrics biometrics;
    FixedClock clock{kNow};
    VaultKey key = newVaultKey();
    ExtensionEnvironment environment;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    const auto request = parseBoundedJSON(std::string_view(reinterpret_cast<const char*>(data), size), kMaxMessageDepth);
    if (!request || !request->is_object()) {
        return 0;
    }
    const Json reply = handleExtensionMessage(*request, world.environment);
    if (!reply.is_object() || !reply.contains("ok") || encodeMessage(reply).empty()) {
        std::abort();
    }
    // Keep learned sites from growing across runs.
    std::filesystem::remove(world.directory / "learned-sites.json");
    return 0;
}
