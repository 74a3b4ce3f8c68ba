// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TempDirectory.h"
#include "core/Clock.h"
#include "core/DeviceKeyStore.h"
#include "core/PasswordPolicy.h"
#include "core/SharedDefaults.h"
#include "core/UnlockSession.h"
#include "platform/InMemoryKeychain.h"
#include "platform/ScriptedBiometrics.h"

#include <gtest/gtest.h>

namespace tallowin::testsupport {

inline constexpr double kDay = 86'400;
inline constexpr double kHour = 3'600;

inline VaultKey testVaultKey(std::uint8_t seed = 1) {
    VaultKey key;
    key.id = "5D3E1A2B-7C4F-4A6E-9B8D-1C2E3F4A5B6C";
    key.key = SecretBytes(32);
    for (std::size_t i = 0; i < key.key.size(); ++i) {
        key.key.data()[i] = static_cast<std::uint8_t>(seed + i);
    }
    return key;
}

/// The device-security objects wired to stand-ins: an in-memory keychain, scripted
/// biometrics, settings in a temporary folder and a fixed clock.
class DeviceSecurityTest : public testing::Test {
public: // the case tables below reach in from lambdas
    TempDirectory temp_;
    SharedDefaults defaults_{temp_ / "settings.json"};
    FixedClock clock_{Date{790'000'000}};
    InMemoryKeychain keychain_;
    ScriptedBiometrics biometrics_;
    DeviceKeyStore deviceKeys_{keychain_, biometrics_};
    UnlockSession session_{keychain_, defaults_, clock_};
    PasswordPolicy policy_{defaults_, deviceKeys_, biometrics_, clock_};

    void passwordTypedSecondsAgo(double seconds) {
        ASSERT_FALSE(defaults_.setDate("lastPasswordEntry", clock_.now().adding(-seconds)));
    }
    [[nodiscard]] bool hasItem(const KeychainQuery& query) const {
        for (const auto& item : keychain_.items()) {
            if (item.attributes.at("service") == query.service &&
                item.attributes.at("account") == query.account) {
                return true;
            }
        }
        return false;
    }
};

} // namespace tallowin::testsupport
