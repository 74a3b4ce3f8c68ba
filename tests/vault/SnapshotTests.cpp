// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/Snapshot.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

// 2026-03-05T14:15:03Z
constexpr Date kSaved = Date::fromUnix(1772720103);
// 2026-01-01T08:00:00Z
constexpr Date kNewYearMorning = Date::fromUnix(1767254400);

TEST(HistoryFileName, StampsUtcSecondsAndTurnsSlashesIntoHyphens) {
    EXPECT_EQ(historyStamp(kSaved), "20260305T141503Z");
    EXPECT_EQ(historyStamp(kSaved.adding(0.999)), "20260305T141503Z");
    EXPECT_EQ(historyFileName(kSaved, "Anna's Mac/Work/2"),
              "vault-20260305T141503Z-Anna's Mac-Work-2.tlwvault");
    EXPECT_EQ(historyFileName(Date::fromUnix(0), ""), "vault-19700101T000000Z-.tlwvault");
}

TEST(HistoryFileName, LongDeviceNameIsCutAtACharacterBoundary) {
    std::string device;
    for (int i = 0; i < 200; ++i) {
        device += "é"; // two bytes each
    }
    const std::string name = historyFileName(kSaved, device);
    EXPECT_LE(name.size(), 255u);
    const std::optional<Snapshot> parsed = parseSnapshotName(name);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->device.size() % 2, 0u);
    EXPECT_EQ(device.rfind(parsed->device, 0), 0u);
}

TEST(HistoryFileName, RoundTripsThroughParse) {
    const std::optional<Snapshot> parsed =
        parseSnapshotName("/h" / std::filesystem::path(historyFileName(kSaved, "Büro/PC")));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->url, "/h/vault-20260305T141503Z-Büro-PC.tlwvault");
    EXPECT_EQ(parsed->date, kSaved);
    EXPECT_EQ(parsed->device, "Büro-PC");
}

struct NameCase {
    const char* title;
    const char* entry;
    std::optional<Snapshot> expected;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.entry;
}

class ParseSnapshotName : public testing::TestWithParam<NameCase> {};

TEST_P(ParseSnapshotName, Reads) {
    EXPECT_EQ(parseSnapshotName(GetParam().entry), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseSnapshotName,
    testing::Values(
        NameCase{"Placeholder", "/h/.vault-20260101T080000Z-Anna's MacBook.tlwvault.icloud",
                 Snapshot{"/h/vault-20260101T080000Z-Anna's MacBook.tlwvault", kNewYearMorning,
                          "Anna's MacBook"}},
        NameCase{"NoDevicePart", "/h/vault-20260101T080000Z.tlwvault",
                 Snapshot{"/h/vault-20260101T080000Z.tlwvault", kNewYearMorning, ""}},
        NameCase{"SeparatorOnly", "/h/vault-20260101T080000Z-.tlwvault",
                 Snapshot{"/h/vault-20260101T080000Z-.tlwvault", kNewYearMorning, ""}},
        NameCase{"ShortStamp", "/h/vault-20260101T0800Z-Mac.tlwvault", std::nullopt},
        NameCase{"StampCutShort", "/h/vault-20260101T08000.tlwvault", std::nullopt},
        NameCase{"WrongPrefix", "/h/backup-20260101T080000Z-Mac.tlwvault", std::nullopt},
        NameCase{"WrongSuffix", "/h/vault-20260101T080000Z-Mac.tlwbackup", std::nullopt},
        NameCase{"TemporaryFile", "/h/.vault-20260101T080000Z-Mac.tlwvault.Ab12Cd", std::nullopt},
        NameCase{"PlaceholderOfNothing", "/h/.icloud", std::nullopt},
        NameCase{"NotADate", "/h/vault-20260230T080000Z-Mac.tlwvault", std::nullopt},
        NameCase{"HourOutOfRange", "/h/vault-20260101T240000Z-Mac.tlwvault", std::nullopt},
        NameCase{"LocalTimeStamp", "/h/vault-20260101T080000+-Mac.tlwvault", std::nullopt},
        NameCase{"SignInStamp", "/h/vault-2026-101T080000Z-Mac.tlwvault", std::nullopt}),
    [](const testing::TestParamInfo<NameCase>& info) { return std::string(info.param.title); });

} // namespace
} // namespace tallowin
