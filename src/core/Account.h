// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Date.h"
#include "core/OTPAlgorithm.h"
#include "core/RandomSource.h"
#include "core/Uuid.h"
#include "core/VaultJSON.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallowin {

/// An account before it exists: what link parsing and the add-account screens produce.
struct AccountDraft {
    std::string issuer;
    std::string label;
    std::string secret; ///< setup key as Base32 text
    OTPAlgorithm algorithm = OTPAlgorithm::sha1;
    std::int64_t digits = 6;
    std::int64_t period = 30;

    friend bool operator==(const AccountDraft&, const AccountDraft&) = default;
};

/// One TOTP account with its bookkeeping for merging across devices. Identified by
/// `id`; equality compares every field.
struct Account {
    Uuid id;
    std::string issuer;
    std::string label;
    std::string secret; ///< Base32 setup key as stored
    OTPAlgorithm algorithm = OTPAlgorithm::sha1;
    std::int64_t digits = 6;
    std::int64_t period = 30;
    std::optional<std::int64_t> color; ///< palette id chosen by the user; none = automatic
    std::vector<std::string> websites;
    Date createdAt = Date::fromUnix(0);
    Date updatedAt = Date::fromUnix(0);
    std::string updatedBy; ///< device identifier of the last change
    std::optional<Date> deletedAt;

    friend bool operator==(const Account&, const Account&) = default;
};

/// A new account from a draft: random id, issuer and label trimmed of spaces and tabs,
/// the secret normalised when it is valid Base32 (kept as typed otherwise).
[[nodiscard]] Account makeAccount(const AccountDraft& draft, const std::string& deviceID, Date now,
                                  RandomSource& random = systemRandom());

[[nodiscard]] inline bool isDeleted(const Account& account) {
    return account.deletedAt.has_value();
}

/// The issuer, else the label, else "Untitled".
[[nodiscard]] std::string displayTitle(const Account& account);

/// JSON form of one account (keys sorted when encoded; `color` and `deletedAt` only
/// when set).
[[nodiscard]] Json accountToJSON(const Account& account);

/// Reads one account: defaults for absent keys, null counts as absent, unknown keys
/// ignored. Fails with JSONDecodeError on a missing `id`/`secret`, a wrong type, a bad
/// UUID or an unknown algorithm. No value is validated beyond its type.
[[nodiscard]] Account accountFromJSON(const Json& object);

} // namespace tallowin
