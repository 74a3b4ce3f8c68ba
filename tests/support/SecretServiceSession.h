// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private Secret Service for tests: a temporary HOME with its XDG folders, a D-Bus session
// bus of its own (dbus-daemon, no service activation) and gnome-keyring-daemon on it with a
// "login" keyring unlocked by a known password. Everything is torn down when the object is
// dropped: the processes are stopped and the folders removed.

#include "Subprocess.h"
#include "core/Environment.h"
#include "core/SharedConfiguration.h"
#include "platform/SecretServiceKeychain.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallowin::testsupport {

/// The session could not be started; the message says what failed.
class SecretServiceUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SecretServiceSession {
public:
    struct Options {
        /// False: only the bus, no Secret Service on it.
        bool startKeyring = true;
        std::string keyringPassword = "tallowin-test-keyring";
        /// Deadline for each process to come up.
        std::chrono::milliseconds startTimeout{15'000};
        /// Set DBUS_SESSION_BUS_ADDRESS in this process while the session lives.
        bool exportBusAddress = true;
    };

    /// Starts the session; throws SecretServiceUnavailable.
    SecretServiceSession();
    explicit SecretServiceSession(Options options);
    SecretServiceSession(const SecretServiceSession&) = delete;
    SecretServiceSession& operator=(const SecretServiceSession&) = delete;
    ~SecretServiceSession();

    [[nodiscard]] const std::filesystem::path& root() const { return root_; }
    [[nodiscard]] const std::filesystem::path& home() const { return home_; }
    [[nodiscard]] const std::string& busAddress() const { return busAddress_; }

    /// The environment of a process living in the session: PATH, HOME, XDG_DATA_HOME,
    /// XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS, nothing
    /// else. Pass it to a child (ChildProcess, runCommand) to run it inside the session.
    [[nodiscard]] const Environment& environment() const { return environment_; }
    [[nodiscard]] UserDirectories userDirectories() const;
    /// Options for a SecretServiceKeychain talking to this session's service.
    [[nodiscard]] SecretServiceOptions keychainOptions() const;

    /// Runs a command inside the session.
    [[nodiscard]] CommandResult
    run(const std::vector<std::string>& argv, std::string_view input = {},
        std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

    /// Locks the login keyring, as a screen locker would. Unlocking again needs a prompt, so
    /// do this last in a test.
    void lockKeyring() const;

    /// Stops gnome-keyring-daemon and starts it again on the same keyring files (unlocked
    /// with the same password), as after a crash or a new login.
    void restartKeyring();

private:
    void startBus();
    void startKeyring();
    void tearDown() noexcept;

    Options options_;
    std::filesystem::path root_;
    std::filesystem::path home_;
    std::string busAddress_;
    Environment environment_;
    std::unique_ptr<ChildProcess> bus_;
    std::unique_ptr<ChildProcess> keyring_;
    std::optional<std::string> previousBusAddress_;
    bool exported_ = false;
};

/// True when running in CI (CI=true): a Secret Service that cannot be started is then a
/// failure, not a reason to skip.
[[nodiscard]] bool secretServiceRequired();

} // namespace tallowin::testsupport
