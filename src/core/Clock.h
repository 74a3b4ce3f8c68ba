// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Date.h"

namespace tallowin {

/// Source of the current time. Core algorithms take `now` as an argument; the
/// layers above hold a Clock so tests can inject a fixed or stepping one.
class Clock {
public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual Date now() const = 0;
};

/// The wall clock.
[[nodiscard]] Clock& systemClock();

/// A clock that returns whatever the test set; handy for policy boundaries.
class FixedClock final : public Clock {
public:
    explicit FixedClock(Date now = {}) : now_(now) {}
    [[nodiscard]] Date now() const override { return now_; }
    void set(Date now) { now_ = now; }
    void advance(double seconds) { now_ = now_.adding(seconds); }

private:
    Date now_;
};

} // namespace tallowin
