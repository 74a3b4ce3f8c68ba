// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Clock.h"
#include "core/DeviceKeyStore.h"
#include "core/SharedDefaults.h"
#include "core/VaultKey.h"
#include "platform/Biometrics.h"

#include <optional>
#include <string>
#include <string_view>

namespace tallowin {

/// The master password must have been typed within this many seconds (14 days) for the
/// device key or an unlock session to be honoured.
inline constexpr double kPasswordAgeLimit = 1'209'600;

/// The "lastPasswordEntry" setting; a value that is not a date counts as absent.
[[nodiscard]] std::optional<Date> lastPasswordEntry(const SharedDefaults& defaults);

/// Recent: an entry exists and now − entry ≤ 14 days (an entry in the future is recent).
[[nodiscard]] bool passwordEntryIsRecent(std::optional<Date> lastEntry, Date now);

/// "Touch ID", "Face ID", "Optic ID", and "Biometrics" for anything else.
[[nodiscard]] std::string_view biometryName(BiometryType type);

/// When biometric unlock is offered, and what the lock screen says when it is not.
class PasswordPolicy {
public:
    PasswordPolicy(SharedDefaults& defaults, DeviceKeyStore& deviceKeys, Biometrics& biometrics,
                   const Clock& clock)
        : defaults_(defaults), deviceKeys_(deviceKeys), biometrics_(biometrics), clock_(clock) {}

    /// After every successful unlock or setup with the master password: stores now as
    /// "lastPasswordEntry" and, on a device that can evaluate the biometric check, saves the
    /// device key (errors ignored). Without biometrics only the date is written.
    void recordPasswordEntry(const VaultKey& key);

    /// Biometrics can be evaluated, the device key exists and the password entry is recent,
    /// tested in that order.
    [[nodiscard]] bool canUseBiometricUnlock();

    /// The line the lock screen shows when biometric unlock is not offered, if any.
    [[nodiscard]] std::optional<std::string> biometricUnlockHint();

private:
    SharedDefaults& defaults_;
    DeviceKeyStore& deviceKeys_;
    Biometrics& biometrics_;
    const Clock& clock_;
};

} // namespace tallowin
