// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vault/VaultStore.h"

#include <memory>

namespace tallowin {

/// The vault store's environment on this machine, with the objects it points at.
struct DefaultVaultStoreEnvironment {
    std::unique_ptr<KeychainItems> keychain;
    std::unique_ptr<Biometrics> biometrics;
    /// Points at `keychain`, `biometrics` and this user's shared settings; valid while this
    /// object lives (moving it keeps the pointers valid).
    VaultStoreEnvironment environment;
};

/// The shared directory and settings of this user, the sync folder chosen in the settings
/// ("syncFolder") as cloud drive, the Secret Service keychain, the fingerprint reader, the
/// wall clock, the secure random source and the host name.
[[nodiscard]] DefaultVaultStoreEnvironment makeDefaultVaultStoreEnvironment();

} // namespace tallowin
