// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/RandomSource.h"

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowin {

/// A 128-bit UUID. Written as the canonical 8-4-4-4-12 upper-case string; read in
/// either case.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    /// A random (version 4) UUID.
    [[nodiscard]] static Uuid random(RandomSource& source = systemRandom());
    /// Parses the canonical 36-character form, upper or lower case; nothing else.
    [[nodiscard]] static std::optional<Uuid> parse(std::string_view text);
    /// Canonical upper-case string.
    [[nodiscard]] std::string toString() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

} // namespace tallowin
