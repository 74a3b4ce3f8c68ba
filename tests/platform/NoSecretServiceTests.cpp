// SPDX-License-Identifier: GPL-3.0-or-later
// Without a Secret Service every call fails at once and cleanly; the session then simply does
// not exist and the device key is unavailable.
#include "SecretServiceTest.h"
#include "Subprocess.h"
#include "TempDirectory.h"
#include "core/DeviceKeyStore.h"
#include "core/UnlockSession.h"
#include "core/VaultError.h"
#include "platform/ScriptedBiometrics.h"
#include "platform/SecretServiceKeychain.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tallowin {
namespace {

using testsupport::SecretServiceSession;
using testsupport::SecretServiceTest;
using testsupport::TempDirectory;

VaultKey testVaultKey() {
    return VaultKey{"11111111-2222-4333-8444-555555555555", SecretBytes(32)};
}

/// Every operation of the keychain and of the stores built on it gives up cleanly.
void expectNoService(SecretServiceKeychain& keychain) {
    const KeychainQuery query{"com.tallowin.unlock-session", "session", ""};
    SecretBytes data;
    std::string label;
    const AuthenticationContext interactive{"reason", false};
    EXPECT_EQ(keychain.add(query, {"label", {}}, toBytes("{}")),
              KeychainStatus::serviceUnavailable);
    EXPECT_EQ(keychain.copyData(query, nullptr, data), KeychainStatus::serviceUnavailable);
    EXPECT_EQ(keychain.copyData(query, &interactive, data), KeychainStatus::serviceUnavailable);
    EXPECT_EQ(keychain.copyAttributes(query, nullptr, label), KeychainStatus::serviceUnavailable);
    EXPECT_EQ(keychain.remove(query), KeychainStatus::serviceUnavailable);

    TempDirectory temp;
    SharedDefaults defaults(temp / "settings.json");
    ASSERT_FALSE(defaults.setDate("lastPasswordEntry", systemClock().now()));
    ScriptedBiometrics biometrics;
    DeviceKeyStore deviceKeys(keychain, biometrics);
    UnlockSession session(keychain, defaults, systemClock());
    EXPECT_NO_THROW(session.save(testVaultKey()));
    EXPECT_FALSE(session.load());
    EXPECT_NO_THROW(session.clear());
    EXPECT_FALSE(deviceKeys.exists());
    EXPECT_THROW((void)deviceKeys.load("unlock your 2FA codes"), VaultError);
    EXPECT_THROW(deviceKeys.save(testVaultKey()), KeychainError);
    EXPECT_EQ(biometrics.evaluations(), 0);
}

TEST(NoSecretService, EnvironmentsWithoutAUsableBus) {
    TempDirectory temp;
    std::filesystem::create_directories(temp / "runtime");
    const Environment::Variables cases[] = {
        {},
        {{"XDG_RUNTIME_DIR", (temp / "runtime").string()}}, // no bus socket in it
        {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (temp / "missing").string()}},
        {{"DBUS_SESSION_BUS_ADDRESS", "autolaunch:"}},
        {{"DBUS_SESSION_BUS_ADDRESS", "nonsense"}},
    };
    for (const auto& variables : cases) {
        SCOPED_TRACE(variables.empty() ? "empty" : variables.begin()->second);
        SecretServiceKeychain keychain(SecretServiceOptions::from(Environment(variables)));
        expectNoService(keychain);
    }
}

TEST(NoSecretService, ABusThatNeverAnswersIsGivenUpOnAtTheTimeout) {
    TempDirectory temp;
    const auto socketPath = (temp / "bus").string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 16), 0); // connections queue up and are never answered

    SecretServiceOptions options;
    options.busAddress = "unix:path=" + socketPath;
    options.callTimeout = std::chrono::milliseconds(100);
    options.interactiveTimeout = std::chrono::milliseconds(100);
    SecretServiceKeychain keychain(options);
    expectNoService(keychain);
    ::close(listener);
}

TEST(NoSecretService, SessionBusAddressComesFromTheEnvironment) {
    TempDirectory temp;
    const auto runtime = temp / "run dir";
    std::filesystem::create_directories(runtime);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const auto socketPath = (runtime / "bus").string();
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const Environment withSocket({{"XDG_RUNTIME_DIR", runtime.string()}});
    std::string escaped = runtime.string();
    escaped.replace(escaped.find(' '), 1, "%20");
    EXPECT_EQ(sessionBusAddress(withSocket), "unix:path=" + escaped + "/bus");

    const Environment both({{"XDG_RUNTIME_DIR", runtime.string()},
                            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/a;autolaunch:;tcp:host=x"}});
    EXPECT_EQ(sessionBusAddress(both), "unix:path=/a;tcp:host=x");
    EXPECT_FALSE(sessionBusAddress(
        Environment(Environment::Variables{{"DBUS_SESSION_BUS_ADDRESS", "autolaunch:"}})));
    EXPECT_FALSE(sessionBusAddress(
        Environment(Environment::Variables{{"XDG_RUNTIME_DIR", temp.path().string()}})));
    ::close(listener);
}

TEST(NoSecretService, AProcessWithoutSessionBusNeitherHangsNorCrashes) {
    TempDirectory temp;
    // Nothing but PATH and a HOME: no DBUS_SESSION_BUS_ADDRESS, no XDG_RUNTIME_DIR, no DISPLAY.
    const Environment plain({{"PATH", "/usr/bin:/bin"}, {"HOME", temp.path().string()}});
    const auto result =
        testsupport::runCommand({TALLOWIN_KEYCHAIN_PROBE, (temp / "settings.json").string()}, plain,
                                {}, std::chrono::seconds(30));
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0) << result.errors;
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(result.output, "session none\n"
                             "device key none\n"
                             "device key load: The vault key isn't available on this device. "
                             "Unlock with your master password.\n"
                             "biometric unlock not offered, hint none\n"
                             "password entry recorded\n");
}

class BusWithoutSecretService : public SecretServiceTest {
protected:
    SecretServiceSession::Options sessionOptions() const override {
        SecretServiceSession::Options options;
        options.startKeyring = false;
        return options;
    }
};

TEST_F(BusWithoutSecretService, ReportsTheServiceAsUnavailable) {
    SecretServiceKeychain keychain(session().keychainOptions());
    expectNoService(keychain);
}

} // namespace
} // namespace tallowin
