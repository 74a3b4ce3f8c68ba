// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Biometrics.h"

namespace tallowin {

/// The biometric check on Linux. Fingerprint readers are not supported yet, so the device
/// cannot evaluate the check: no device key is stored and the password is always asked for
/// (the twelve-hour unlock session still works).
class LinuxBiometrics final : public Biometrics {
public:
    bool canEvaluatePolicy() override { return false; }
    BiometryType biometryType() override { return BiometryType::none; }
    BiometricResult evaluatePolicy(std::string_view reason) override;
};

} // namespace tallowin
