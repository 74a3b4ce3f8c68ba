// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Clock.h"

#include <chrono>

namespace tallowin {

namespace {
class SystemClock final : public Clock {
public:
    Date now() const override {
        using namespace std::chrono;
        const auto since1970 = duration<double>(system_clock::now().time_since_epoch()).count();
        return Date::fromUnix(since1970);
    }
};
} // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

} // namespace tallowin
