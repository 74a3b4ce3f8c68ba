// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small character-level helpers shared by the parsers: hexadecimal digits and UTF-8
// sequences checked byte by byte.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tallowin {

namespace detail {
/// Digit values of hexadecimal characters (either case), -1 elsewhere. A table rather than
/// range tests: random digits would make every test a branch mispredicted half the time,
/// and vaults parse thousands of identifiers at a go.
inline constexpr std::array<std::int8_t, 256> kHexValues = [] {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (int c = 0; c < 10; ++c) {
        table['0' + c] = static_cast<std::int8_t>(c);
    }
    for (int c = 0; c < 6; ++c) {
        table['a' + c] = table['A' + c] = static_cast<std::int8_t>(10 + c);
    }
    return table;
}();
} // namespace detail

/// The value of a hexadecimal digit (either case), or -1.
[[nodiscard]] inline int hexDigitValue(char c) {
    return detail::kHexValues[static_cast<unsigned char>(c)];
}

/// How much of the UTF-8 sequence at the start of `text` is well-formed (U+0080 and up, no
/// surrogates, no overlong forms): `length` bytes, the whole sequence when `complete`, else
/// its longest valid beginning (at least 1 byte). `text` must not be empty.
struct UTF8Prefix {
    std::size_t length = 0;
    bool complete = false;
};
[[nodiscard]] inline UTF8Prefix wellFormedUTF8Prefix(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= text.size()) {
            return {i, false};
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < low || c > high) {
            return {i, false};
        }
        low = 0x80;
        high = 0xBF;
    }
    return {length, true};
}

} // namespace tallowin
