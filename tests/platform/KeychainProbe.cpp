// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the device-security operations on this process's own environment, as the browser host
// would, and prints what came back. The tests start it with no session bus at all.
// Usage: tallowin_keychain_probe <settings file>
#include "core/DeviceKeyStore.h"
#include "core/PasswordPolicy.h"
#include "core/SharedDefaults.h"
#include "core/UnlockSession.h"
#include "core/VaultError.h"
#include "platform/LinuxBiometrics.h"
#include "platform/SecretServiceKeychain.h"

#include <iostream>

int main(int argc, char** argv) {
    using namespace tallowin;
    if (argc != 2) {
        return 2;
    }
    SecretServiceKeychain keychain;
    LinuxBiometrics biometrics;
    SharedDefaults defaults(argv[1]);
    DeviceKeyStore deviceKeys(keychain, biometrics);
    UnlockSession session(keychain, defaults, systemClock());
    PasswordPolicy policy(defaults, deviceKeys, biometrics, systemClock());

    const VaultKey key = newVaultKey();
    policy.recordPasswordEntry(key);
    session.save(key);
    std::cout << "session " << (session.load() ? "found" : "none") << "\n";
    std::cout << "device key " << (deviceKeys.exists() ? "found" : "none") << "\n";
    try {
        (void)deviceKeys.load("unlock your 2FA codes");
        std::cout << "device key loaded\n";
    } catch (const VaultError& error) {
        std::cout << "device key load: " << error.what() << "\n";
    }
    std::cout << "biometric unlock " << (policy.canUseBiometricUnlock() ? "offered" : "not offered")
              << ", hint " << (policy.biometricUnlockHint() ? "shown" : "none") << "\n";
    session.clear();
    deviceKeys.remove();
    std::cout << "password entry " << (defaults.date("lastPasswordEntry") ? "recorded" : "missing")
              << "\n";
    return 0;
}
