// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/HistoryRetention.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace tallowin {

std::int64_t localDay(Date date, const std::optional<QTimeZone>& zone) {
    const double unix = std::floor(date.unixTime());
    // Beyond any real save time; keeps the conversion to an integer defined.
    const auto seconds =
        static_cast<qint64>(std::clamp(std::isnan(unix) ? 0.0 : unix, -1e15, 1e15));
    const QDateTime time = zone ? QDateTime::fromSecsSinceEpoch(seconds, *zone)
                                : QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime);
    return time.date().toJulianDay();
}

std::vector<Snapshot> expiredSnapshots(std::span<const Snapshot> snapshots, Date now,
                                       const std::optional<QTimeZone>& zone) {
    std::vector<const Snapshot*> newestFirst;
    newestFirst.reserve(snapshots.size());
    for (const Snapshot& snapshot : snapshots) {
        newestFirst.push_back(&snapshot);
    }
    std::stable_sort(newestFirst.begin(), newestFirst.end(),
                     [](const Snapshot* a, const Snapshot* b) { return a->date > b->date; });

    std::unordered_set<std::int64_t> keptDays;
    std::vector<Snapshot> expired;
    for (const Snapshot* snapshot : newestFirst) {
        const double age = now.since(snapshot->date);
        if (age < kKeepAllHistorySeconds) {
            continue;
        }
        if (age >= kMaxHistoryAgeSeconds ||
            !keptDays.insert(localDay(snapshot->date, zone)).second) {
            expired.push_back(*snapshot);
        }
    }
    return expired;
}

} // namespace tallowin
