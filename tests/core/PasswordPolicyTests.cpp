// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceSecurityFixture.h"

#include <optional>

namespace tallowin {
namespace {

using testsupport::DeviceSecurityTest;
using testsupport::kDay;
using testsupport::testVaultKey;

using PasswordPolicyTest = DeviceSecurityTest;

TEST(PasswordEntry, IsRecentUpToAndIncludingFourteenDays) {
    const Date now{800'000'000};
    EXPECT_FALSE(passwordEntryIsRecent(std::nullopt, now));
    EXPECT_TRUE(passwordEntryIsRecent(now, now));
    EXPECT_TRUE(passwordEntryIsRecent(now.adding(-1'209'600), now));
    EXPECT_FALSE(passwordEntryIsRecent(now.adding(-1'209'601), now));
    EXPECT_FALSE(passwordEntryIsRecent(now.adding(-1'209'600.001), now));
    EXPECT_TRUE(passwordEntryIsRecent(now.adding(5 * kDay), now)); // clock moved back
}

TEST_F(PasswordPolicyTest, RecordingWithBiometricsStoresTheDateAndTheDeviceKey) {
    policy_.recordPasswordEntry(testVaultKey());
    EXPECT_EQ(defaults_.date("lastPasswordEntry"), clock_.now());
    EXPECT_TRUE(deviceKeys_.exists());
    EXPECT_EQ(deviceKeys_.load("r"), testVaultKey());
    EXPECT_TRUE(policy_.canUseBiometricUnlock());
    EXPECT_FALSE(policy_.biometricUnlockHint());
}

TEST_F(PasswordPolicyTest, WithoutBiometricsOnlyTheDateIsWrittenAndNothingIsOffered) {
    biometrics_.setCanEvaluate(false);
    policy_.recordPasswordEntry(testVaultKey());
    EXPECT_EQ(defaults_.date("lastPasswordEntry"), clock_.now());
    EXPECT_TRUE(keychain_.items().empty());
    EXPECT_FALSE(policy_.canUseBiometricUnlock());
    EXPECT_FALSE(policy_.biometricUnlockHint());
}

TEST_F(PasswordPolicyTest, AFailingKeychainDoesNotStopThePasswordEntry) {
    keychain_.setAvailable(false);
    EXPECT_NO_THROW(policy_.recordPasswordEntry(testVaultKey()));
    EXPECT_EQ(defaults_.date("lastPasswordEntry"), clock_.now());
    EXPECT_FALSE(policy_.canUseBiometricUnlock());
}

struct PolicyCase {
    const char* name;
    bool canEvaluate;
    BiometryType type;
    bool deviceKey;
    std::optional<double> passwordAge;
    bool offered;
    std::optional<std::string> hint;

    friend void PrintTo(const PolicyCase& c, std::ostream* out) { *out << c.name; }
};

class BiometricUnlockRules : public DeviceSecurityTest,
                             public testing::WithParamInterface<PolicyCase> {};

TEST_P(BiometricUnlockRules, OfferAndHint) {
    const PolicyCase& c = GetParam();
    if (c.deviceKey) {
        deviceKeys_.save(testVaultKey());
    }
    biometrics_.setCanEvaluate(c.canEvaluate);
    biometrics_.setBiometryType(c.type);
    if (c.passwordAge) {
        passwordTypedSecondsAgo(*c.passwordAge);
    }
    EXPECT_EQ(policy_.canUseBiometricUnlock(), c.offered);
    EXPECT_EQ(policy_.biometricUnlockHint(), c.hint);
    EXPECT_EQ(biometrics_.evaluations(), 0); // asking never shows the check
}

const std::string kEvery14Days = "Your master password is required every 14 days.";

INSTANTIATE_TEST_SUITE_P(
    Cases, BiometricUnlockRules,
    testing::Values(
        PolicyCase{"NoBiometrics", false, BiometryType::none, false, 0, false, std::nullopt},
        PolicyCase{"NoBiometricsButAnOldKey", false, BiometryType::none, true, 0, false,
                   std::nullopt},
        PolicyCase{"KeyAndRecentPassword", true, BiometryType::touchID, true, 60, true,
                   std::nullopt},
        PolicyCase{"PasswordExactlyFourteenDaysAgo", true, BiometryType::touchID, true, 14 * kDay,
                   true, std::nullopt},
        PolicyCase{"PasswordFourteenDaysAndOneSecondAgo", true, BiometryType::touchID, true,
                   14 * kDay + 1, false, kEvery14Days},
        PolicyCase{"PasswordFifteenDaysAgo", true, BiometryType::faceID, true, 15 * kDay, false,
                   kEvery14Days},
        PolicyCase{"KeyButNoPasswordEntry", true, BiometryType::touchID, true, std::nullopt, false,
                   std::nullopt},
        PolicyCase{"TouchIDWithoutKeyOrEntry", true, BiometryType::touchID, false, std::nullopt,
                   false, "Enter your master password to turn on Touch ID on this device."},
        PolicyCase{"FaceIDWithoutKey", true, BiometryType::faceID, false, 60, false,
                   "Enter your master password to turn on Face ID on this device."},
        PolicyCase{"OpticIDWithoutKey", true, BiometryType::opticID, false, 60, false,
                   "Enter your master password to turn on Optic ID on this device."},
        PolicyCase{"FingerprintWithoutKey", true, BiometryType::fingerprint, false, 60, false,
                   "Enter your master password to turn on Biometrics on this device."},
        PolicyCase{"OldPasswordAndNoKey", true, BiometryType::touchID, false, 20 * kDay, false,
                   kEvery14Days}),
    [](const testing::TestParamInfo<PolicyCase>& info) { return info.param.name; });

TEST_F(PasswordPolicyTest, ALockedKeychainStillCountsAsHavingTheDeviceKey) {
    policy_.recordPasswordEntry(testVaultKey());
    keychain_.setLocked(true);
    EXPECT_TRUE(policy_.canUseBiometricUnlock());
    EXPECT_EQ(keychain_.interactiveReads(), 0);
}

} // namespace
} // namespace tallowin
