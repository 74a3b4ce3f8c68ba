// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ScriptedBiometrics.h"

namespace tallowin {

BiometricResult ScriptedBiometrics::evaluatePolicy(std::string_view reason) {
    if (!canEvaluate_) {
        return BiometricResult::notAvailable;
    }
    ++evaluations_;
    lastReason_ = std::string(reason);
    if (queued_.empty()) {
        return defaultResult_;
    }
    const BiometricResult result = queued_.front();
    queued_.pop_front();
    return result;
}

} // namespace tallowin
