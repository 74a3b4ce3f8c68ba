// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Date.h"
#include "vault/Snapshot.h"

#include <QTimeZone>
#include <optional>
#include <span>
#include <vector>

namespace tallowin {

/// Versions younger than this are all kept.
inline constexpr double kKeepAllHistorySeconds = 172'800; // 48 hours
/// Versions this old or older are deleted.
inline constexpr double kMaxHistoryAgeSeconds = 15'811'200; // 183 days

/// The local calendar day of `date` in `zone` (none: the machine's time zone at the time of
/// the call), as a day number.
[[nodiscard]] std::int64_t localDay(Date date, const std::optional<QTimeZone>& zone);

/// The history versions to delete at `now`: every version of the last 48 hours stays; from
/// 48 hours to 183 days only the newest version of each local calendar day stays; older ones
/// go. A version of the last 48 hours does not use up its day.
[[nodiscard]] std::vector<Snapshot> expiredSnapshots(std::span<const Snapshot> snapshots, Date now,
                                                     const std::optional<QTimeZone>& zone);

} // namespace tallowin
