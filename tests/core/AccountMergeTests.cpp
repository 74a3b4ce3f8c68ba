// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/AccountMerge.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

constexpr Date kNow{800'000'000};

Uuid idNumber(std::uint8_t n) {
    Uuid id;
    id.bytes[15] = n;
    return id;
}

/// One version of account `n`.
Account version(std::uint8_t n, double updatedAt, std::string device = "DEVICE-A") {
    Account account;
    account.id = idNumber(n);
    account.issuer = "Example";
    account.label = "ana@example.org";
    account.secret = "JBSWY3DPEHPK3PXP";
    account.websites = {"example.org", "login.example.org"};
    account.createdAt = Date{1000.0 + n};
    account.updatedAt = Date{updatedAt};
    account.updatedBy = std::move(device);
    return account;
}

Account deleted(Account account, Date when = Date{kNow.sinceReference - 60}) {
    account.deletedAt = when;
    return account;
}

TEST(ContentFingerprint, JoinsTheEightTextsWithUnitSeparators) {
    Account account = version(1, 5);
    account.algorithm = OTPAlgorithm::sha256;
    account.digits = 8;
    account.period = 60;
    EXPECT_EQ(contentFingerprint(account), "Example\x1F"
                                           "ana@example.org\x1FJBSWY3DPEHPK3PXP\x1FSHA256\x1F"
                                           "8\x1F"
                                           "60\x1F-1\x1F"
                                           "example.org,login.example.org");
    account.color = 4;
    account.websites.clear();
    account.updatedBy = "other";
    account.deletedAt = Date{1};
    EXPECT_EQ(contentFingerprint(account), "Example\x1F"
                                           "ana@example.org\x1FJBSWY3DPEHPK3PXP\x1FSHA256\x1F"
                                           "8\x1F"
                                           "60\x1F"
                                           "4\x1F");
}

struct ConflictCase {
    const char* name;
    Account existing;
    Account incoming;
    bool incomingWins;
    bool orderMatters; ///< a full tie: whichever comes first stays
};

void PrintTo(const ConflictCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<ConflictCase> conflictCases() {
    std::vector<ConflictCase> cases;
    const auto edited = [](Account account, auto change) {
        change(account);
        return account;
    };
    // The later version wins even from the smaller device and even when it is the deletion.
    cases.push_back({"LaterUpdateWins", version(1, 100, "DEVICE-Z"),
                     deleted(version(1, 100.5, "DEVICE-A")), true, false});
    // Plain order is byte order, not a case-insensitive one: "b" (0x62) > "C" (0x43).
    cases.push_back({"SameTimeGreaterDeviceWins", version(1, 100, "DEVICE-b"),
                     version(1, 100, "DEVICE-C"), false, false});
    cases.push_back({"SameTimeGreaterDeviceWinsEvenDeleted", version(1, 100, "DEVICE-A"),
                     deleted(version(1, 100, "DEVICE-B")), true, false});
    cases.push_back({"SameTimeAndDeviceLiveBeatsDeleted",
                     deleted(edited(version(1, 100), [](Account& a) { a.issuer = "Zeta"; })),
                     version(1, 100), true, false});
    // Composed and decomposed spellings of one device id are the same device.
    cases.push_back({"DeviceIdsCompareAfterNFC", deleted(version(1, 100, "Zo\u00EB")),
                     version(1, 100, "Zoe\u0308"), true, false});
    cases.push_back({"GreaterFingerprintWins", version(1, 100),
                     edited(version(1, 100), [](Account& a) { a.issuer = "Examples"; }), true,
                     false});
    // Fingerprints compare as text: "8" > "10", and a colour "0" > the "-1" of none.
    cases.push_back({"DigitsCompareAsText",
                     edited(version(1, 100), [](Account& a) { a.digits = 8; }),
                     edited(version(1, 100), [](Account& a) { a.digits = 10; }), false, false});
    cases.push_back({"ColourBeatsNoColour", version(1, 100),
                     edited(version(1, 100), [](Account& a) { a.color = 0; }), true, false});
    cases.push_back({"BothDeletedGreaterFingerprintWins",
                     deleted(edited(version(1, 100), [](Account& a) { a.secret = "ZZZZ"; })),
                     deleted(version(1, 100)), false, false});
    // Dates outside the fingerprint do not decide: the first one stays.
    cases.push_back({"SameContentFirstStays", version(1, 100),
                     edited(version(1, 100), [](Account& a) { a.createdAt = Date{1}; }), false,
                     true});
    cases.push_back({"SameContentBothDeletedFirstStays", deleted(version(1, 100), kNow),
                     deleted(version(1, 100), Date{kNow.sinceReference - 10}), false, true});
    cases.push_back({"CanonicallyEqualContentFirstStays",
                     edited(version(1, 100), [](Account& a) { a.issuer = "Caf\u00E9"; }),
                     edited(version(1, 100), [](Account& a) { a.issuer = "Cafe\u0301"; }), false,
                     true});
    return cases;
}

class ResolveConflict : public testing::TestWithParam<ConflictCase> {};

TEST_P(ResolveConflict, PicksTheWinner) {
    const ConflictCase& c = GetParam();
    const Account& winner = c.incomingWins ? c.incoming : c.existing;
    EXPECT_EQ(&resolveConflict(c.existing, c.incoming), &winner);
    const Account& swappedWinner = c.orderMatters ? c.incoming : winner;
    EXPECT_EQ(&resolveConflict(c.incoming, c.existing), &swappedWinner);

    // The merge agrees, with the versions in two lists or both in one.
    const auto forward = mergeAccounts({{c.existing}, {c.incoming}}, kNow);
    ASSERT_EQ(forward.size(), 1u);
    EXPECT_EQ(forward[0], winner);
    const auto backward = mergeAccounts({{c.incoming, c.existing}}, kNow);
    ASSERT_EQ(backward.size(), 1u);
    EXPECT_EQ(backward[0], swappedWinner);
}

INSTANTIATE_TEST_SUITE_P(Cases, ResolveConflict, testing::ValuesIn(conflictCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MergeAccounts, CombinesListsAndDuplicatesWithinAList) {
    const Account a1 = version(1, 100);
    const Account a2 = version(1, 200, "DEVICE-B"); // edited elsewhere later
    const Account a3 = version(1, 150, "DEVICE-C");
    const Account b1 = version(2, 100);
    const Account b2 = deleted(version(2, 300));
    const Account c1 = version(3, 100);
    const Account c2 = version(3, 50); // an older copy listed after the newer one
    const Account d1 = version(4, 100, "DEVICE-D");

    const std::vector<std::vector<Account>> lists{{c1, a1, b1}, {a2, c2, a3, b2}, {}, {d1, c2}};
    const auto merged = mergeAccounts(lists, kNow);
    EXPECT_EQ(merged, (std::vector<Account>{a2, b2, c1, d1}));

    // The pointer form gives the same result without copying the lists.
    const std::vector<Account>* pointers[] = {&lists[0], &lists[1], nullptr, &lists[3]};
    EXPECT_EQ(mergeAccounts(pointers, kNow), merged);
    EXPECT_TRUE(mergeAccounts(std::vector<std::vector<Account>>{}, kNow).empty());
}

TEST(MergeAccounts, PurgesDeletionsThirtyDaysOldOrOlder) {
    struct Case {
        double secondsAgo;
        bool kept;
    };
    for (const Case& c : {Case{2'592'000, false}, Case{2'591'999, true}, Case{2'591'999.5, true},
                          Case{2'592'000.25, false}, Case{-86'400, true}, Case{0, true}}) {
        const Account account = deleted(version(1, 100), Date{kNow.sinceReference - c.secondsAgo});
        EXPECT_EQ(mergeAccounts({{account}}, kNow).size(), c.kept ? 1u : 0u) << c.secondsAgo;
    }
    // Live accounts stay however old; a purged deletion is not revived by an older live copy.
    const Account old = version(2, -1e9);
    const Account gone = deleted(version(3, 200), Date{kNow.sinceReference - 3e6});
    EXPECT_EQ(mergeAccounts({{old, version(3, 100)}, {gone}}, kNow), std::vector<Account>{old});
}

TEST(MergeAccounts, OrdersByCreationThenByIdString) {
    const auto created = [](const char* id, double when) {
        Account account = version(0, 100);
        account.id = *Uuid::parse(id);
        account.createdAt = Date{when};
        return account;
    };
    const Account late = created("00000000-0000-0000-0000-000000000001", 10.5);
    const Account early = created("FFFFFFFF-0000-0000-0000-000000000000", -5e8); // before 2001
    const Account tieNine = created("00000000-0000-0000-0000-000000000009", 10.25);
    const Account tieA = created("00000000-0000-0000-0000-00000000000A", 10.25);
    const Account tieF = created("F0000000-0000-0000-0000-000000000000", 10.25);
    const auto merged = mergeAccounts({{late, tieF, tieA}, {tieNine, early}}, kNow);
    EXPECT_EQ(merged, (std::vector<Account>{early, tieNine, tieA, tieF, late}));
}

} // namespace
} // namespace tallowin
