// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceSecurityFixture.h"

#include <optional>

namespace tallowin {
namespace {

using testsupport::DeviceSecurityTest;
using testsupport::kDay;
using testsupport::kHour;
using testsupport::testVaultKey;

using UnlockSessionTest = DeviceSecurityTest;

TEST_F(UnlockSessionTest, SaveWritesATwelveHourRecordThatLoadReturns) {
    passwordTypedSecondsAgo(0);
    session_.save(testVaultKey(1));
    session_.save(testVaultKey(2)); // replaces

    const auto items = keychain_.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].attributes,
              (std::map<std::string, std::string>{{"service", "com.tallowin.unlock-session"},
                                                  {"account", "session"}}));
    EXPECT_EQ(items[0].created.label, "Tallowin unlock session");
    EXPECT_EQ(items[0].created.protection, KeychainProtection::whenUnlockedThisDeviceOnly);
    const auto stored = UnlockSession::Stored::decode(items[0].data.span());
    EXPECT_EQ(stored.expires, clock_.now().adding(43'200));
    EXPECT_EQ(stored.keyID, testVaultKey(2).id);

    EXPECT_EQ(session_.load(), testVaultKey(2));
    EXPECT_EQ(keychain_.interactiveReads(), 0);
    session_.clear();
    EXPECT_FALSE(session_.load());
    EXPECT_TRUE(keychain_.items().empty());
}

struct SessionCase {
    const char* name;
    double sessionAge;                 // seconds since the session was written
    std::optional<double> passwordAge; // seconds since the password was typed
    bool honoured;

    friend void PrintTo(const SessionCase& c, std::ostream* out) { *out << c.name; }
};

class UnlockSessionRules : public DeviceSecurityTest,
                           public testing::WithParamInterface<SessionCase> {};

TEST_P(UnlockSessionRules, HonouredOnlyWhileUnexpiredAndThePasswordIsRecent) {
    const SessionCase& c = GetParam();
    const Date written = clock_.now();
    if (c.passwordAge) {
        ASSERT_FALSE(
            defaults_.setDate("lastPasswordEntry", written.adding(c.sessionAge - *c.passwordAge)));
    }
    session_.save(testVaultKey());
    clock_.advance(c.sessionAge);

    const auto key = session_.load();
    EXPECT_EQ(key.has_value(), c.honoured);
    if (key) {
        EXPECT_EQ(*key, testVaultKey());
    }
    // A session that is not honoured is gone; one that is stays.
    EXPECT_EQ(hasItem(session_.query()), c.honoured);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, UnlockSessionRules,
    testing::Values(SessionCase{"Fresh", 0, 0, true},
                    SessionCase{"OneSecondBeforeExpiry", 12 * kHour - 1, 0, true},
                    SessionCase{"ExactlyTwelveHours", 12 * kHour, 0, false},
                    SessionCase{"TwelveHoursAndOneSecond", 12 * kHour + 1, 0, false},
                    SessionCase{"PasswordExactlyFourteenDaysAgo", 60, 14 * kDay, true},
                    SessionCase{"PasswordFourteenDaysAndOneSecondAgo", 60, 14 * kDay + 1, false},
                    SessionCase{"PasswordInTheFuture", 60, -kDay, true},
                    SessionCase{"NoPasswordEntry", 60, std::nullopt, false}),
    [](const testing::TestParamInfo<SessionCase>& info) { return info.param.name; });

TEST_F(UnlockSessionTest, AnUndecodableRecordStaysAndYieldsNothing) {
    passwordTypedSecondsAgo(0);
    for (const char* record :
         {"garbage", R"({"keyID":"K","key":"AAAA"})",
          R"({"keyID":"K","key":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="})"}) {
        SCOPED_TRACE(record);
        keychain_.putRaw(session_.query(), record);
        EXPECT_FALSE(session_.load());
        EXPECT_FALSE(session_.load());
        ASSERT_EQ(keychain_.items().size(), 1u);
        EXPECT_EQ(toString(keychain_.items()[0].data.span()), record);
    }
}

TEST_F(UnlockSessionTest, ALastPasswordEntryThatIsNotADateCountsAsAbsent) {
    ASSERT_FALSE(defaults_.setString("lastPasswordEntry", "yesterday"));
    session_.save(testVaultKey());
    EXPECT_FALSE(session_.load());
    EXPECT_TRUE(keychain_.items().empty());
}

TEST_F(UnlockSessionTest, WithoutAKeychainThereIsSimplyNoSession) {
    passwordTypedSecondsAgo(0);
    keychain_.setAvailable(false);
    session_.save(testVaultKey());
    EXPECT_FALSE(session_.load());
    session_.clear();
    keychain_.setAvailable(true);
    EXPECT_TRUE(keychain_.items().empty());
}

TEST_F(UnlockSessionTest, ALockedKeychainYieldsNothingAndKeepsTheSession) {
    passwordTypedSecondsAgo(0);
    session_.save(testVaultKey());
    keychain_.setLocked(true);
    clock_.advance(13 * kHour);
    EXPECT_FALSE(session_.load());
    EXPECT_EQ(keychain_.items().size(), 1u); // nothing could be read, so nothing is judged
}

} // namespace
} // namespace tallowin
