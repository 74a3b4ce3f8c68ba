// SPDX-License-Identifier: GPL-3.0-or-later
// The screens' words and rules as the command line uses them.
#include "cli/AccountFilter.h"
#include "cli/PasswordStrength.h"
#include "cli/ResultTexts.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

constexpr Date kNow = Date::fromUnix(1772720103);

TEST(AddResultText, JoinsThePartsThatApply) {
    struct Case {
        int added, existing, unreadable;
        const char* text;
    };
    const Case cases[] = {
        {1, 0, 0, "Added 1 account"},
        {3, 0, 0, "Added 3 accounts"},
        {0, 1, 0, "1 already in Tallowin"},
        {0, 2, 1, "2 already in Tallowin \u00B7 1 link couldn't be read"},
        {1, 1, 2, "Added 1 account \u00B7 1 already in Tallowin \u00B7 2 links couldn't be read"},
        {0, 0, 0, "Nothing to add."},
        {12000, 0, 0, "Added 12000 accounts"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(addResultText(c.added, c.existing, c.unreadable), c.text)
            << c.added << "," << c.existing << "," << c.unreadable;
    }
}

TEST(ResultTexts, RestoreAndExport) {
    EXPECT_EQ(restoreResultText(0), "Already up to date");
    EXPECT_EQ(restoreResultText(1), "Restored 1 account");
    EXPECT_EQ(restoreResultText(2), "Restored 2 accounts");
    EXPECT_EQ(exportResultText(3), "Exported 3 accounts.");
}

TEST(RemainingDaysText, CountsWholeDaysUpToThirty) {
    Account account;
    EXPECT_EQ(remainingDaysText(account, kNow), std::nullopt);
    const auto left = [&](double secondsAgo) {
        account.deletedAt = kNow.adding(-secondsAgo);
        return remainingDaysText(account, kNow).value_or("");
    };
    EXPECT_EQ(left(0), "30 days left");
    EXPECT_EQ(left(29 * 86400 + 3600), "1 day left");
    EXPECT_EQ(left(30 * 86400), "0 days left");
    EXPECT_EQ(left(45 * 86400), "0 days left");
    EXPECT_EQ(left(-86400), "31 days left"); // deleted "tomorrow" by a clock running ahead
}

TEST(SyncStatusLine, FollowsTheStatus) {
    EXPECT_EQ(syncStatusLine({}, std::nullopt, false, kNow), "Not synced yet");
    EXPECT_EQ(syncStatusLine({}, kNow.adding(-5), false, kNow), "Synced just now");
    EXPECT_EQ(syncStatusLine({}, kNow.adding(-125), false, kNow), "Synced 2 minutes ago");
    EXPECT_EQ(syncStatusLine({SyncStatus::localOnly, {}}, kNow, false, kNow),
              "iCloud Drive is off on this device");
    EXPECT_EQ(syncStatusLine({SyncStatus::localOnly, {}}, kNow, true, kNow),
              "Waiting for iCloud Drive to respond. Your changes are saved here and will upload "
              "automatically.");
    EXPECT_EQ(syncStatusLine(SyncStatus::makeFailed("Disk full"), kNow, false, kNow), "Disk full");
}

TEST(PasswordStrength, ScoresLengthAndVariety) {
    struct Case {
        const char* password;
        int score;
    };
    const Case cases[] = {
        {"", 0},
        {"Ab1!", 1},                                     // variety alone
        {"abcdefghi", 0},                                // 9 characters
        {"abcdefghij", 1},                               // 10 lower-case letters
        {"Abcdefgh1!", 2},                               // 10 characters, four classes
        {"abcdefghijklmn", 2},                           // 14
        {"ABCdef1234567890ghij", 4},                     // 20 characters, three classes
        {"abcdefghijklmnopqrs1", 3},                     // 20 characters, two classes
        {"\u00E9\u00E9\u00E9\u00E9\u00E9AAAA\u20AC", 2}, // letters and a currency symbol
    };
    for (const Case& c : cases) {
        EXPECT_EQ(passwordStrength(c.password), c.score) << c.password;
    }
}

TEST(PasswordStrength, CountsCharactersAsTheyAreSeen) {
    EXPECT_EQ(characterCount("abc"), 3);
    EXPECT_EQ(characterCount("e\u0301"), 1);              // e + combining acute
    EXPECT_EQ(characterCount("\U0001F1E9\U0001F1EA"), 1); // a flag: two regional indicators
    EXPECT_EQ(characterCount("\U0001F44D\U0001F3FD"), 1); // thumbs up with a skin tone
    EXPECT_EQ(characterCount("\xFF\xFE"), 2);             // bytes that aren't UTF-8
    // Nine accented letters typed decomposed are nine characters, not eighteen.
    std::string nine;
    for (int i = 0; i < 9; ++i) {
        nine += "e\u0301";
    }
    EXPECT_EQ(characterCount(nine), 9);
    EXPECT_LT(characterCount(nine), kMinimumNewPasswordLength);
}

TEST(AccountFilter, MatchesIssuerLabelOrWebsiteIgnoringCase) {
    Account github;
    github.issuer = "GitHub";
    github.label = "octo@example.com";
    Account bank;
    bank.issuer = "Sparkasse";
    bank.label = "";
    bank.websites = {"sparkasse.de", "banking.example"};
    Account accented;
    accented.issuer = "\u00C9cole"; // École, composed

    EXPECT_TRUE(matchesSearch(github, ""));
    EXPECT_TRUE(matchesSearch(github, "   "));
    EXPECT_TRUE(matchesSearch(github, "  github \n"));
    EXPECT_TRUE(matchesSearch(github, "OCTO@"));
    EXPECT_FALSE(matchesSearch(github, "git hub"));
    EXPECT_TRUE(matchesSearch(bank, "BANKING"));
    EXPECT_FALSE(matchesSearch(bank, "github"));
    EXPECT_TRUE(matchesSearch(accented, "e\u0301cole")); // typed decomposed, in lower case
    EXPECT_FALSE(matchesSearch(accented, "ecole"));      // accents still count

    const std::vector<Account> shown = filterAccounts({github, bank, accented}, "e");
    ASSERT_EQ(shown.size(), 3u) << "octo@example, sparkasse, École";
    EXPECT_EQ(searchQuery("\t a b \n"), "a b");
}

} // namespace
} // namespace tallowin
