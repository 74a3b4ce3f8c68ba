// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The device's biometric check as the vault core sees it. Implementations: LinuxBiometrics
// and ScriptedBiometrics (tests).

#include <string_view>

namespace tallowin {

enum class BiometryType { none, touchID, faceID, opticID, fingerprint };

enum class BiometricResult { success, cancelled, failed, notAvailable };

class Biometrics {
public:
    virtual ~Biometrics() = default;

    /// Whether biometrics are present and enrolled, so that the check can be evaluated.
    [[nodiscard]] virtual bool canEvaluatePolicy() = 0;

    [[nodiscard]] virtual BiometryType biometryType() = 0;

    /// Asks the user for the check, giving `reason`, and waits for the outcome (this may
    /// block for as long as the user takes).
    [[nodiscard]] virtual BiometricResult evaluatePolicy(std::string_view reason) = 0;
};

} // namespace tallowin
