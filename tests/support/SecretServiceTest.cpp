// SPDX-License-Identifier: GPL-3.0-or-later
#include "SecretServiceTest.h"

namespace tallowin::testsupport {

void SecretServiceTest::SetUp() {
    try {
        session_ = std::make_unique<SecretServiceSession>(sessionOptions());
    } catch (const SecretServiceUnavailable& error) {
        if (secretServiceRequired()) {
            FAIL() << "CI needs a Secret Service, but it could not be started: " << error.what();
        }
        GTEST_SKIP() << "no Secret Service here: " << error.what();
    }
}

} // namespace tallowin::testsupport
