// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SecretServiceSession.h"

#include <gtest/gtest.h>
#include <memory>

namespace tallowin::testsupport {

/// Base for tests against a real Secret Service: a private session (see SecretServiceSession)
/// is started before each test and torn down after it. Where it cannot be started the test is
/// skipped, except in CI (CI=true), where that fails the test.
class SecretServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { session_.reset(); }

    /// What to start; override to change.
    [[nodiscard]] virtual SecretServiceSession::Options sessionOptions() const { return {}; }

    [[nodiscard]] SecretServiceSession& session() { return *session_; }

private:
    std::unique_ptr<SecretServiceSession> session_;
};

} // namespace tallowin::testsupport
