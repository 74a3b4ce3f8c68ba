// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/HistoryRetention.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tallowin {
namespace {

constexpr double kHour = 3600;
constexpr double kDay = 24 * kHour;
// 2026-03-10T12:00:00Z
constexpr Date kNow = Date::fromUnix(1773144000);

struct Version {
    const char* name;
    double ageSeconds;
};

struct RetentionCase {
    const char* title;
    int utcOffsetSeconds;
    std::vector<Version> versions;
    std::vector<std::string> expired;
};

void PrintTo(const RetentionCase& c, std::ostream* os) {
    *os << c.title;
}

class ExpiredSnapshots : public testing::TestWithParam<RetentionCase> {};

TEST_P(ExpiredSnapshots, KeepsRecentAndOnePerLocalDay) {
    const RetentionCase& c = GetParam();
    std::vector<Snapshot> snapshots;
    for (const Version& version : c.versions) {
        snapshots.push_back({version.name, kNow.adding(-version.ageSeconds), ""});
    }
    // The order of the listing must not matter.
    std::reverse(snapshots.begin(), snapshots.end());
    std::vector<std::string> expired;
    for (const Snapshot& snapshot :
         expiredSnapshots(snapshots, kNow, QTimeZone(c.utcOffsetSeconds))) {
        expired.push_back(snapshot.url.string());
    }
    std::sort(expired.begin(), expired.end());
    EXPECT_EQ(expired, c.expired);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpiredSnapshots,
    testing::Values(
        RetentionCase{"RecentSameDayAndAncient",
                      0,
                      {{"1h", 1 * kHour},
                       {"47h", 47 * kHour},
                       {"3d", 3 * kDay},
                       {"3d+1h", 3 * kDay + kHour},
                       {"200d", 200 * kDay}},
                      {"200d", "3d+1h"}},
        // At exactly 48 hours the day rule applies, at exactly 183 days the version goes.
        RetentionCase{"Boundaries",
                      0,
                      {{"48h", 48 * kHour},
                       {"48h+1s", 48 * kHour + 1},
                       {"183d-1s", 183 * kDay - 1},
                       {"183d", 183 * kDay}},
                      {"183d", "48h+1s"}},
        // A version of the last 48 hours does not use up its calendar day.
        RetentionCase{"RecentVersionLeavesItsDayOpen",
                      0,
                      {{"47h", 47 * kHour}, {"49h", 49 * kHour}, {"50h", 50 * kHour}},
                      {"50h"}},
        // 23:30 and 00:30 UTC five days ago: two days in UTC, one day two hours east.
        RetentionCase{"MidnightInUtc",
                      0,
                      {{"before", 5 * kDay + 12.5 * kHour}, {"after", 5 * kDay + 11.5 * kHour}},
                      {}},
        RetentionCase{"MidnightTwoHoursEast",
                      2 * 3600,
                      {{"before", 5 * kDay + 12.5 * kHour}, {"after", 5 * kDay + 11.5 * kHour}},
                      {"before"}},
        // 11:30 and 12:30 UTC ten days ago: one day in UTC, two days twelve hours east.
        RetentionCase{"NoonHalfDayEast",
                      12 * 3600,
                      {{"earlier", 10 * kDay + 0.5 * kHour}, {"later", 10 * kDay - 0.5 * kHour}},
                      {}},
        RetentionCase{"NoonInUtc",
                      0,
                      {{"earlier", 10 * kDay + 0.5 * kHour}, {"later", 10 * kDay - 0.5 * kHour}},
                      {"earlier"}},
        RetentionCase{"FutureVersionStays", 0, {{"ahead", -5 * kDay}}, {}}),
    [](const testing::TestParamInfo<RetentionCase>& info) {
        return std::string(info.param.title);
    });

} // namespace
} // namespace tallowin
