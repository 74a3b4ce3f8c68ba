// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/LinuxBiometrics.h"

namespace tallowin {

BiometricResult LinuxBiometrics::evaluatePolicy(std::string_view) {
    return BiometricResult::notAvailable;
}

} // namespace tallowin
