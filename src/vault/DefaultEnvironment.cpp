// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/DefaultEnvironment.h"

#include "core/SharedConfiguration.h"
#include "platform/LinuxBiometrics.h"
#include "platform/SecretServiceKeychain.h"
#include "platform/SyncFolderCloudDrive.h"

namespace tallowin {

DefaultVaultStoreEnvironment makeDefaultVaultStoreEnvironment() {
    DefaultVaultStoreEnvironment result;
    result.keychain = std::make_unique<SecretServiceKeychain>();
    result.biometrics = std::make_unique<LinuxBiometrics>();

    SharedDefaults& defaults = sharedDefaults();
    VaultStoreEnvironment& environment = result.environment;
    environment.sharedDirectory = sharedDirectory();
    // Read at every lookup, on the lookup thread: the settings are read from their file.
    environment.cloudDrive = std::make_shared<SyncFolderCloudDrive>(
        [&defaults]() -> std::optional<std::filesystem::path> {
            std::optional<std::string> folder = defaults.string(kSyncFolderSettingKey);
            if (!folder || folder->empty()) {
                return std::nullopt;
            }
            return std::filesystem::path(*folder);
        });
    environment.defaults = &defaults;
    environment.keychain = result.keychain.get();
    environment.biometrics = result.biometrics.get();
    environment.clock = &systemClock();
    environment.random = &systemRandom();
    environment.computerName = hostComputerName();
    return result;
}

} // namespace tallowin
