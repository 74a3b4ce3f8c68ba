// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The cryptography of vault and backup files: the password-based wrapping key and
// AES-256-GCM sealed boxes (nonce ‖ ciphertext ‖ tag).

#include "core/Bytes.h"
#include "core/RandomSource.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string_view>

namespace tallowin {

/// Lengths of the parts of a sealed box, and of the keys it takes.
inline constexpr std::size_t kBoxNonceLength = 12;
inline constexpr std::size_t kBoxTagLength = 16;
inline constexpr std::size_t kBoxOverhead = kBoxNonceLength + kBoxTagLength;
inline constexpr std::size_t kSymmetricKeyLength = 32;

/// Largest PBKDF2 iteration count accepted. Files carry their own count; this keeps a
/// crafted file from freezing an unlock for minutes (the system writes 600,000).
inline constexpr std::int64_t kMaxAcceptedKDFIterations = 10'000'000;

/// A sealed box that does not open: shorter than nonce and tag, a key of the wrong
/// length, or failed authentication (wrong key, wrong associated data, altered bytes).
/// Callers turn it into the VaultError that fits their step.
class SealedBoxError : public std::exception {
public:
    [[nodiscard]] const char* what() const noexcept override { return "sealed box does not open"; }
};

/// The 32-byte wrapping key: PBKDF2-HMAC-SHA256 over the NFC form of `password`.
/// Fails with VaultError::corrupted when `iterations` is outside 1...kMaxAcceptedKDFIterations
/// or the derivation reports an error.
[[nodiscard]] SecretBytes deriveWrappingKey(std::string_view password,
                                            std::span<const std::uint8_t> salt,
                                            std::int64_t iterations);

/// AES-256-GCM with a fresh 12-byte nonce from `random`, bound to the UTF-8 bytes of
/// `associatedData`: nonce ‖ ciphertext ‖ 16-byte tag. Fails with VaultError::corrupted
/// when no box can be made (a key that is not 32 bytes, an oversized plaintext).
[[nodiscard]] Bytes sealBox(std::span<const std::uint8_t> plaintext,
                            std::span<const std::uint8_t> key, std::string_view associatedData,
                            RandomSource& random = systemRandom());

/// The plaintext of a box made by sealBox with the same key and associated data.
/// Fails with SealedBoxError.
[[nodiscard]] SecretBytes openBox(std::span<const std::uint8_t> box,
                                  std::span<const std::uint8_t> key,
                                  std::string_view associatedData);

} // namespace tallowin
