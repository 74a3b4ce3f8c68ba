// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Bytes.h"
#include "core/RandomSource.h"

#include <string>

namespace tallowin {

/// The data key of one vault or backup: a key identifier (canonical upper-case UUID
/// text) and 32 random bytes, wiped when dropped.
struct VaultKey {
    std::string id;
    SecretBytes key;

    friend bool operator==(const VaultKey&, const VaultKey&) = default;
};

/// A fresh key: a random UUID as id and 32 bytes from the secure random source.
[[nodiscard]] VaultKey newVaultKey(RandomSource& random = systemRandom());

} // namespace tallowin
