// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Environment.h"
#include "platform/KeychainItems.h"
#include "platform/SecretServiceReader.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tallowin {

struct SecretServiceOptions {
    /// D-Bus address of the session bus; empty when there is none (every call then fails at
    /// once with serviceUnavailable).
    std::string busAddress;
    /// Upper bound for a call that never involves the user.
    std::chrono::milliseconds callTimeout{10'000};
    /// Upper bound for a call that may wait for the service's own unlock prompt.
    std::chrono::milliseconds interactiveTimeout{120'000};

    [[nodiscard]] static SecretServiceOptions from(const Environment& environment);
};

/// The session bus in `environment`: DBUS_SESSION_BUS_ADDRESS, else the socket
/// $XDG_RUNTIME_DIR/bus when it is there. Entries that would launch a bus (autolaunch:) are
/// dropped, so asking never starts one.
[[nodiscard]] std::optional<std::string> sessionBusAddress(const Environment& environment);

/// The keychain on the desktop's Secret Service (gnome-keyring, KWallet, KeePassXC), through
/// libsecret (reads that never prompt go through SecretServiceReader). Items carry the attributes
/// "service", "account" and, when the access group is not empty, "group", with no schema name, so
/// other tools find them too: `secret-tool lookup service com.tallowin.unlock-session account
/// session`. The secret is the item's data (UTF-8 JSON text, content type text/plain); new items go
/// to the default collection.
///
/// Every call is bounded: with no bus it fails at once, with a bus or service that does not
/// answer it gives up after the timeout. Reads and removals never prompt, except copyData with
/// an interactive context, which may let the service ask the user to unlock a locked keyring.
/// add may show that prompt too. Safe to use from several threads (calls are serialised).
class SecretServiceKeychain final : public KeychainItems {
public:
    explicit SecretServiceKeychain(
        SecretServiceOptions options = SecretServiceOptions::from(Environment::current()));
    ~SecretServiceKeychain() override;
    SecretServiceKeychain(const SecretServiceKeychain&) = delete;
    SecretServiceKeychain& operator=(const SecretServiceKeychain&) = delete;

    KeychainStatus add(const KeychainQuery& query, const KeychainItemAttributes& attributes,
                       std::span<const std::uint8_t> data) override;
    KeychainStatus copyData(const KeychainQuery& query, const AuthenticationContext* context,
                            SecretBytes& data) override;
    KeychainStatus copyAttributes(const KeychainQuery& query, const AuthenticationContext* context,
                                  std::string& label) override;
    KeychainStatus remove(const KeychainQuery& query) override;

private:
    struct Connection;
    class Call;

    SecretServiceOptions options_;
    std::mutex mutex_;
    std::unique_ptr<Connection> connection_;
    SecretServiceReader reader_; ///< quick reads of unlocked items
};

} // namespace tallowin
