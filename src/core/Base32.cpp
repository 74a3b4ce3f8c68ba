// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Base32.h"

#include <array>
#include <cstdint>

namespace tallowin {

namespace {
constexpr std::array<std::int8_t, 256> makeTable() {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    for (int i = 0; i < 32; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    }
    return table;
}
constexpr auto kValues = makeTable();

constexpr bool isDropped(char c) {
    return c == ' ' || c == '-' || c == '=' || c == '\n' || c == '\t';
}

constexpr char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string cleaned(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (!isDropped(c)) {
            out.push_back(upper(c));
        }
    }
    return out;
}

std::optional<Bytes> decodeCleaned(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(text.size() * 5 / 8);
    std::uint32_t accumulator = 0;
    int bits = 0;
    for (const char c : text) {
        const std::int8_t value = kValues[static_cast<unsigned char>(c)];
        if (value < 0) {
            return std::nullopt;
        }
        accumulator = accumulator << 5 | static_cast<std::uint32_t>(value);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(accumulator >> bits & 0xFF));
        }
    }
    if (out.empty()) {
        return std::nullopt;
    }
    return out;
}
} // namespace

std::optional<Bytes> base32Decode(std::string_view text) {
    return decodeCleaned(cleaned(text));
}

std::optional<std::string> normalizedSecret(std::string_view text) {
    std::string clean = cleaned(text);
    if (!decodeCleaned(clean)) {
        return std::nullopt;
    }
    return clean;
}

} // namespace tallowin
