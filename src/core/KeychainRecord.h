// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The JSON records kept in the two keychain items: {"key": base64, "keyID": text} and, for
// the unlock session, "expires" (seconds since 2001-01-01T00:00:00Z) as well. The encoded text
// and the decoded key live in SecretBytes so that key material is wiped when dropped.

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/VaultKey.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace tallowin {

/// Records larger than this do not decode.
inline constexpr std::size_t kMaxKeychainRecordBytes = 64u * 1024;

struct KeychainRecord {
    VaultKey key;
    std::optional<Date> expires;
};

/// Compact JSON text of a record; `expires` is written when given.
[[nodiscard]] SecretBytes encodeKeychainRecord(const VaultKey& key, std::optional<Date> expires);

/// Reads a record; "keyID" (string) and "key" (base64 of exactly 32 bytes) are required, and
/// "expires" (number) too when `withExpires`. Other members are ignored. Fails with
/// JSONDecodeError on anything else; the message never quotes the record.
[[nodiscard]] KeychainRecord decodeKeychainRecord(std::span<const std::uint8_t> data,
                                                  bool withExpires);

} // namespace tallowin
