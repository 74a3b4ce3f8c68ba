// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The vault and backup file format: a JSON envelope in the clear that carries the data
// key wrapped under a password-derived key, and the account list sealed under the data
// key. The data key is bound to its box by the key identifier (associated data); the
// other header fields are not authenticated.

#include "core/Account.h"
#include "core/Bytes.h"
#include "core/Date.h"
#include "core/RandomSource.h"
#include "core/VaultKey.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

inline constexpr std::string_view kVaultFormat = "tlw-vault";
inline constexpr std::string_view kBackupFormat = "tlw-backup";
/// The version written; files with a higher one come from a newer program.
inline constexpr std::int64_t kEnvelopeVersion = 1;

inline constexpr std::string_view kKDFAlgorithm = "PBKDF2-HMAC-SHA256";
inline constexpr std::int64_t kDefaultKDFIterations = 600'000;
inline constexpr std::size_t kKDFSaltLength = 16;

/// Associated data of the wrapped key and of the payload; the key identifier follows
/// directly.
inline constexpr std::string_view kKeyWrapPrefix = "tlw.key.v1|";
inline constexpr std::string_view kPayloadPrefix = "tlw.payload.v1|";

/// How the wrapping key is derived from the master password. `algorithm` is written
/// but never checked on read.
struct KDFParameters {
    std::string algorithm{kKDFAlgorithm};
    std::int64_t iterations = kDefaultKDFIterations;
    Bytes salt;

    friend bool operator==(const KDFParameters&, const KDFParameters&) = default;
};

/// One vault or backup file. `payload` is empty in a header that has not been filled.
struct VaultEnvelope {
    std::string format;
    std::int64_t version = kEnvelopeVersion;
    std::string keyID;
    KDFParameters kdf;
    Bytes wrappedKey; ///< the 32 data-key bytes, sealed with the wrapping key
    Bytes payload;    ///< the contents JSON, sealed with the data key
    Date savedAt;
    std::string savedBy; ///< name of the writer

    friend bool operator==(const VaultEnvelope&, const VaultEnvelope&) = default;
};

/// What the payload holds: every account, deleted ones included.
struct VaultContents {
    std::vector<Account> accounts;

    friend bool operator==(const VaultContents&, const VaultContents&) = default;
};

/// Most JSON values (keys included) accepted in an envelope before its fields are read,
/// so that a crafted file cannot make the parser build a huge tree. A real envelope has
/// about twenty.
inline constexpr std::size_t kMaxEnvelopeJSONValues = 256;

/// A new envelope with an empty payload: a fresh 16-byte salt, the data key sealed under
/// the key derived with `iterations` rounds (only tests pass another count than the
/// default), saved at `now` by `writer`. Slow: run it off the main thread.
[[nodiscard]] VaultEnvelope makeEnvelopeHeader(std::string_view format, std::string_view password,
                                               const VaultKey& key, std::string_view writer,
                                               Date now, RandomSource& random = systemRandom(),
                                               std::int64_t iterations = kDefaultKDFIterations);

/// The payload for `accounts`: their contents JSON sealed with the data key.
[[nodiscard]] Bytes sealContents(std::span<const Account> accounts, const VaultKey& key,
                                 RandomSource& random = systemRandom());

/// Compact sorted-key JSON of the envelope.
[[nodiscard]] Bytes encodeEnvelope(const VaultEnvelope& envelope);

/// Reads an envelope. Fails with VaultError::corrupted when the bytes do not decode
/// (too large, not JSON, a missing key, a wrong type, bad base64) and with
/// VaultError::unsupportedFormat when a well-formed envelope has version 2 or more.
[[nodiscard]] VaultEnvelope decodeEnvelope(std::span<const std::uint8_t> bytes);

/// The data key, unwrapped with the master password. Fails with VaultError::corrupted
/// when the key derivation cannot run (iteration count out of range) or the wrapped key
/// opens to something that is not a 32-byte key, and with VaultError::wrongPassword when
/// the wrapped key does not open (a wrong password and a damaged file look the same).
/// Slow: run it off the main thread.
[[nodiscard]] VaultKey unwrapVaultKey(const VaultEnvelope& envelope, std::string_view password);

/// Reads the eight members of an envelope from parsed JSON; fails with JSONDecodeError.
/// The version is not judged here.
[[nodiscard]] VaultEnvelope envelopeFromJSON(const Json& object);

/// The accounts of the envelope. Fails with VaultError::foreignVault when the key is
/// not the envelope's (nothing is decrypted), VaultError::corrupted when the payload
/// does not open, and JSONDecodeError when it opens but is not valid contents.
[[nodiscard]] std::vector<Account> openContents(const VaultEnvelope& envelope, const VaultKey& key);

/// A complete backup file of `accounts` under a new data key of its own.
[[nodiscard]] Bytes makeBackup(std::span<const Account> accounts, std::string_view password,
                               std::string_view writer, Date now,
                               RandomSource& random = systemRandom(),
                               std::int64_t iterations = kDefaultKDFIterations);

/// Contents JSON (the plaintext of a payload; it holds every secret, hence SecretBytes).
[[nodiscard]] SecretBytes encodeContents(const VaultContents& contents);
/// Reads contents JSON; fails with JSONDecodeError.
[[nodiscard]] VaultContents decodeContents(std::span<const std::uint8_t> json);

} // namespace tallowin
