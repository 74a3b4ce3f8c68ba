// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Bytes.h"
#include "core/Clock.h"
#include "core/SharedConfiguration.h"
#include "core/SharedDefaults.h"
#include "core/VaultKey.h"
#include "platform/KeychainItems.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tallowin {

inline constexpr std::string_view kUnlockSessionService = "com.tallowin.unlock-session";
inline constexpr std::string_view kUnlockSessionAccount = "session";
inline constexpr std::string_view kUnlockSessionLabel = "Tallowin unlock session";

/// How long a session is honoured after it is written: 12 hours.
inline constexpr double kUnlockSessionLifetime = 43'200;

/// A copy of the vault key that needs no check to read, for twelve hours after an unlock, so
/// the browser companions can serve codes meanwhile. Honoured only while the master password
/// was typed within the password age limit.
class UnlockSession {
public:
    /// The JSON record kept in the item: {"expires": date, "key": base64, "keyID": id}.
    struct Stored {
        std::string keyID;
        SecretBytes key;
        Date expires;

        [[nodiscard]] SecretBytes encode() const;
        /// Fails with JSONDecodeError.
        [[nodiscard]] static Stored decode(std::span<const std::uint8_t> data);
        friend bool operator==(const Stored&, const Stored&) = default;
    };

    UnlockSession(KeychainItems& keychain, const SharedDefaults& defaults, const Clock& clock,
                  std::string accessGroup = std::string(TLWKeychainGroup))
        : keychain_(keychain), defaults_(defaults), clock_(clock),
          accessGroup_(std::move(accessGroup)) {}

    /// Replaces the item with a session that expires 12 hours from now. Never fails.
    void save(const VaultKey& key);

    /// The session's key while it is valid: not yet expired and the password entry recent.
    /// A session that is no longer valid is deleted; one whose record does not decode stays
    /// and gives nothing. Never prompts.
    [[nodiscard]] std::optional<VaultKey> load();

    /// Removes the item; the result is ignored.
    void clear();

    [[nodiscard]] KeychainQuery query() const;

private:
    KeychainItems& keychain_;
    const SharedDefaults& defaults_;
    const Clock& clock_;
    std::string accessGroup_;
};

} // namespace tallowin
