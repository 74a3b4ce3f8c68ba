// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <compare>

namespace tallowin {

/// Seconds between 1970-01-01T00:00:00Z and 2001-01-01T00:00:00Z.
inline constexpr double kSecondsFrom1970To2001 = 978307200.0;

/// A point in time, held exactly as stored: seconds (with fraction) since
/// 2001-01-01T00:00:00Z. Equality and JSON round trips are therefore exact.
struct Date {
    double sinceReference = 0;

    [[nodiscard]] static constexpr Date fromUnix(double unixSeconds) {
        return Date{unixSeconds - kSecondsFrom1970To2001};
    }
    [[nodiscard]] constexpr double unixTime() const {
        return sinceReference + kSecondsFrom1970To2001;
    }
    [[nodiscard]] constexpr Date adding(double seconds) const {
        return Date{sinceReference + seconds};
    }
    /// Seconds from `other` to this date (positive when this date is later).
    [[nodiscard]] constexpr double since(Date other) const {
        return sinceReference - other.sinceReference;
    }

    friend constexpr bool operator==(Date, Date) = default;
    friend constexpr auto operator<=>(Date a, Date b) {
        return a.sinceReference <=> b.sinceReference;
    }
};

} // namespace tallowin
