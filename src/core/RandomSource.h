// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tallowin {

/// Source of random bytes. Production code uses systemRandom(); tests may pass a
/// deterministic source to get repeatable ids, salts and nonces.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void fill(std::span<std::uint8_t> out) = 0;
};

/// The system's secure random source (OpenSSL's DRBG). A failure of the source is
/// fatal: the process aborts rather than use a partial key, salt or nonce.
[[nodiscard]] RandomSource& systemRandom();

/// `count` bytes from `source`.
[[nodiscard]] Bytes randomBytes(std::size_t count, RandomSource& source = systemRandom());

} // namespace tallowin
