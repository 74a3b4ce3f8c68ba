// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The twelve two-colour card palettes and how an account gets one: the user's choice,
// else a well-known service keyword in its name, else a stable hash of the name, so
// that an account has the same colour on every device and in the browser extensions.

#include "core/Account.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tallowin {

/// An opaque sRGB colour with 8-bit components (a component of 255 is full intensity).
struct Rgb8 {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    /// The 24-bit value 0xRRGGBB.
    [[nodiscard]] constexpr std::uint32_t value() const {
        return (std::uint32_t{red} << 16) | (std::uint32_t{green} << 8) | blue;
    }
    friend constexpr bool operator==(Rgb8, Rgb8) = default;
};

/// One card palette: a vertical gradient from `top` to `bottom`.
struct CardPalette {
    int id = 0; ///< index in the table, 0...11
    std::string_view name;
    Rgb8 top;
    Rgb8 bottom;

    friend constexpr bool operator==(const CardPalette&, const CardPalette&) = default;
};

inline constexpr std::size_t kCardPaletteCount = 12;

/// The palettes in id order, Coral (0) to Graphite (11).
[[nodiscard]] std::span<const CardPalette, kCardPaletteCount> cardPalettes();

/// The palette id of a well-known service keyword (one lower-cased piece of a name).
[[nodiscard]] std::optional<int> serviceKeywordPaletteIndex(std::string_view piece);

/// The account's palette id, 0...11: its `color` when that names a palette; otherwise
/// (no colour, or a stored colour outside 0...11) chosen from the issuer, or the label
/// when the issuer is empty: the first word that is a service keyword, else a hash.
[[nodiscard]] int paletteIndex(const Account& account);

/// The palette at `paletteIndex(account)`.
[[nodiscard]] const CardPalette& palette(const Account& account);

/// Top and bottom colour of the account's palette as "#RRGGBB" (upper-case hex).
[[nodiscard]] std::array<std::string, 2> hexColours(const Account& account);

} // namespace tallowin
