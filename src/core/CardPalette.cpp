// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/CardPalette.h"

#include "core/Unicode.h"

#include <cstdio>
#include <utility>

namespace tallowin {

namespace {
constexpr Rgb8 rgb(std::uint32_t value) {
    return Rgb8{static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
                static_cast<std::uint8_t>(value)};
}

constexpr std::array<CardPalette, kCardPaletteCount> kPalettes{{
    {0, "Coral", rgb(0xFF6B5E), rgb(0xE5484D)},
    {1, "Tangerine", rgb(0xFFA14A), rgb(0xF07A1F)},
    {2, "Sunflower", rgb(0xF5BE2E), rgb(0xDE960A)},
    {3, "Mint", rgb(0x3DD68C), rgb(0x1FAE6B)},
    {4, "Teal", rgb(0x2BC4C4), rgb(0x13999E)},
    {5, "Sky", rgb(0x5AB8FF), rgb(0x2F8BEA)},
    {6, "Blue", rgb(0x5B7CFF), rgb(0x3A57E8)},
    {7, "Forest", rgb(0x3E9B63), rgb(0x267A49)},
    {8, "Violet", rgb(0x9B6BFF), rgb(0x7646E8)},
    {9, "Pink", rgb(0xFF6FA8), rgb(0xE5468A)},
    {10, "Cocoa", rgb(0xB0835C), rgb(0x8A6243)},
    {11, "Graphite", rgb(0x6B7686), rgb(0x4A5361)},
}};

constexpr std::array<std::pair<std::string_view, int>, 29> kServiceKeywords{{
    {"google", 0},       {"gsuite", 0},     {"youtube", 0},  {"papaki", 0},   {"gitlab", 1},
    {"amazon", 1},       {"aws", 1},        {"auth0", 1},    {"invoice", 2},  {"binance", 2},
    {"nicehash", 2},     {"termius", 3},    {"escrow", 3},   {"openai", 4},   {"miradore", 4},
    {"digitalocean", 5}, {"twitter", 5},    {"ui", 5},       {"coinbase", 6}, {"dropbox", 6},
    {"crypto", 6},       {"teamviewer", 6}, {"synology", 6}, {"stripe", 8},   {"parsec", 8},
    {"plaid", 11},       {"notion", 11},    {"github", 11},  {"apple", 11},
}};

std::string hexColour(Rgb8 colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", static_cast<unsigned>(colour.value()));
    return text;
}
} // namespace

std::span<const CardPalette, kCardPaletteCount> cardPalettes() {
    return kPalettes;
}

std::optional<int> serviceKeywordPaletteIndex(std::string_view piece) {
    for (const auto& [keyword, index] : kServiceKeywords) {
        if (keyword == piece) {
            return index;
        }
    }
    return std::nullopt;
}

int paletteIndex(const Account& account) {
    // A stored colour outside the table (a newer palette, a damaged file) falls back to
    // the automatic choice rather than indexing past the table.
    if (account.color && *account.color >= 0 &&
        *account.color < static_cast<std::int64_t>(kCardPaletteCount)) {
        return static_cast<int>(*account.color);
    }
    const std::string name = toLower(account.issuer.empty() ? account.label : account.issuer);
    for (const std::string& piece : splitAtNonAlphanumerics(name)) {
        if (const auto index = serviceKeywordPaletteIndex(piece)) {
            return *index;
        }
    }
    std::uint32_t hash = 5381;
    for (const char32_t scalar : scalars(name)) {
        hash = hash * 33 + static_cast<std::uint32_t>(scalar);
    }
    return static_cast<int>(hash % kCardPaletteCount);
}

const CardPalette& palette(const Account& account) {
    return kPalettes[static_cast<std::size_t>(paletteIndex(account))];
}

std::array<std::string, 2> hexColours(const Account& account) {
    const CardPalette& entry = palette(account);
    return {hexColour(entry.top), hexColour(entry.bottom)};
}

} // namespace tallowin
