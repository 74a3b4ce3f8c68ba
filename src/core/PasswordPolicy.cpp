// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PasswordPolicy.h"

#include "core/SharedConfiguration.h"

#include <exception>

namespace tallowin {

std::optional<Date> lastPasswordEntry(const SharedDefaults& defaults) {
    return defaults.date(kLastPasswordEntryKey);
}

bool passwordEntryIsRecent(std::optional<Date> lastEntry, Date now) {
    return lastEntry && now.since(*lastEntry) <= kPasswordAgeLimit;
}

std::string_view biometryName(BiometryType type) {
    switch (type) {
    case BiometryType::touchID:
        return "Touch ID";
    case BiometryType::faceID:
        return "Face ID";
    case BiometryType::opticID:
        return "Optic ID";
    case BiometryType::none:
    case BiometryType::fingerprint:
        break;
    }
    return "Biometrics";
}

void PasswordPolicy::recordPasswordEntry(const VaultKey& key) {
    (void)defaults_.setDate(kLastPasswordEntryKey, clock_.now());
    if (biometrics_.canEvaluatePolicy()) {
        try {
            deviceKeys_.save(key);
        } catch (const std::exception&) {
            // The password keeps working; biometric unlock is simply not offered.
        }
    }
}

bool PasswordPolicy::canUseBiometricUnlock() {
    return biometrics_.canEvaluatePolicy() && deviceKeys_.exists() &&
           passwordEntryIsRecent(lastPasswordEntry(defaults_), clock_.now());
}

std::optional<std::string> PasswordPolicy::biometricUnlockHint() {
    if (!biometrics_.canEvaluatePolicy()) {
        return std::nullopt;
    }
    const auto lastEntry = lastPasswordEntry(defaults_);
    if (lastEntry && clock_.now().since(*lastEntry) > kPasswordAgeLimit) {
        return "Your master password is required every 14 days.";
    }
    if (deviceKeys_.exists()) {
        return std::nullopt;
    }
    return "Enter your master password to turn on " +
           std::string(biometryName(biometrics_.biometryType())) + " on this device.";
}

} // namespace tallowin
