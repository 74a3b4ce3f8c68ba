// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The keychain as the vault core sees it: a store of small secret items found by their
// service, account and access group. Implementations: SecretServiceKeychain (the desktop's
// Secret Service) and InMemoryKeychain (tests).

#include "core/Bytes.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tallowin {

/// Outcome of a keychain call.
enum class KeychainStatus {
    success,
    itemNotFound,
    /// The item is there, but getting at it would need the user (a locked keyring).
    interactionNotAllowed,
    /// The user dismissed a prompt of the keychain.
    userCanceled,
    /// No keychain service answered (none running, no session bus, or no answer in time).
    serviceUnavailable,
    /// The protection the item asks for cannot be set up on this device.
    protectionUnavailable,
    failed,
};

[[nodiscard]] constexpr std::string_view keychainStatusText(KeychainStatus status) {
    switch (status) {
    case KeychainStatus::success:
        return "success";
    case KeychainStatus::itemNotFound:
        return "item not found";
    case KeychainStatus::interactionNotAllowed:
        return "interaction not allowed";
    case KeychainStatus::userCanceled:
        return "cancelled by the user";
    case KeychainStatus::serviceUnavailable:
        return "keychain service unavailable";
    case KeychainStatus::protectionUnavailable:
        return "item protection unavailable";
    case KeychainStatus::failed:
        break;
    }
    return "keychain operation failed";
}

/// A keychain call that did not succeed, carrying its status.
class KeychainError : public std::runtime_error {
public:
    explicit KeychainError(KeychainStatus status)
        : std::runtime_error(std::string("Keychain error: ") +
                             std::string(keychainStatusText(status))),
          status_(status) {}
    [[nodiscard]] KeychainStatus status() const noexcept { return status_; }

private:
    KeychainStatus status_;
};

/// The attributes that find an item (the base query).
struct KeychainQuery {
    std::string service;
    std::string account;
    /// Empty: the query carries no access group (and matches items of any group).
    std::string accessGroup;

    friend bool operator==(const KeychainQuery&, const KeychainQuery&) = default;
};

/// Who may read an item once it is there.
enum class KeychainProtection {
    /// Readable while the keychain is unlocked, on this device only; no check.
    whenUnlockedThisDeviceOnly,
    /// Readable only after a check of the current set of enrolled biometrics (or a paired
    /// watch), on this device only.
    biometryCurrentSetOrWatch,
};

/// Attributes given only when an item is created.
struct KeychainItemAttributes {
    std::string label;
    KeychainProtection protection = KeychainProtection::whenUnlockedThisDeviceOnly;
};

/// How a read may involve the user.
struct AuthenticationContext {
    /// Why the user is asked, shown in a prompt.
    std::string reason;
    /// True: fail with interactionNotAllowed rather than show any prompt.
    bool interactionNotAllowed = false;
};

class KeychainItems {
public:
    virtual ~KeychainItems() = default;

    /// Stores an item with the query's attributes, replacing one that has exactly those.
    [[nodiscard]] virtual KeychainStatus add(const KeychainQuery& query,
                                             const KeychainItemAttributes& attributes,
                                             std::span<const std::uint8_t> data) = 0;

    /// The value data of (at most) one matching item. Without a context no prompt is shown.
    [[nodiscard]] virtual KeychainStatus copyData(const KeychainQuery& query,
                                                  const AuthenticationContext* context,
                                                  SecretBytes& data) = 0;

    /// Finds one matching item without reading its data; gives its label. An item that is
    /// there but locked gives interactionNotAllowed (and still its label).
    [[nodiscard]] virtual KeychainStatus copyAttributes(const KeychainQuery& query,
                                                        const AuthenticationContext* context,
                                                        std::string& label) = 0;

    /// Removes every matching item; never prompts.
    virtual KeychainStatus remove(const KeychainQuery& query) = 0;
};

} // namespace tallowin
