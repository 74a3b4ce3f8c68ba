// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/VaultKey.h"

#include "core/Uuid.h"

namespace tallowin {

VaultKey newVaultKey(RandomSource& random) {
    VaultKey key;
    key.id = Uuid::random(random).toString();
    key.key = SecretBytes(32);
    random.fill(key.key.span());
    return key;
}

} // namespace tallowin
