// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Unicode.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

// Holds in every locale the tests run in, the C and POSIX locales included.
TEST(LocalizedCaseInsensitiveCompare, IgnoresCaseAndKeepsAccentedLettersWithTheirBase) {
    const struct {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"beta", "Beta", 0},   {"GITHUB", "github", 0},    {"Beta", "alpha", 1},
        {"alpha", "Beta", -1}, {"\u00C9mile", "zeta", -1}, {"emile", "\u00C9mile", -1},
        {"", "a", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign(localizedCaseInsensitiveCompare(c.a, c.b)), c.expected) << c.a << " " << c.b;
    }
}

} // namespace
} // namespace tallowin
