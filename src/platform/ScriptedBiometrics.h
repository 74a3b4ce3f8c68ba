// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Biometrics.h"

#include <deque>
#include <string>

namespace tallowin {

/// Biometrics that answer as a test scripted them. Evaluations take the queued results in
/// order, then the default result; a device that cannot evaluate always answers notAvailable.
class ScriptedBiometrics final : public Biometrics {
public:
    explicit ScriptedBiometrics(bool canEvaluate = true, BiometryType type = BiometryType::touchID)
        : canEvaluate_(canEvaluate), type_(type) {}

    bool canEvaluatePolicy() override { return canEvaluate_; }
    BiometryType biometryType() override { return type_; }
    BiometricResult evaluatePolicy(std::string_view reason) override;

    void setCanEvaluate(bool canEvaluate) { canEvaluate_ = canEvaluate; }
    void setBiometryType(BiometryType type) { type_ = type; }
    void setDefaultResult(BiometricResult result) { defaultResult_ = result; }
    void queueResult(BiometricResult result) { queued_.push_back(result); }

    /// How many times the check was shown, and the last reason given.
    [[nodiscard]] int evaluations() const { return evaluations_; }
    [[nodiscard]] const std::string& lastReason() const { return lastReason_; }

private:
    bool canEvaluate_;
    BiometryType type_;
    BiometricResult defaultResult_ = BiometricResult::success;
    std::deque<BiometricResult> queued_;
    int evaluations_ = 0;
    std::string lastReason_;
};

} // namespace tallowin
