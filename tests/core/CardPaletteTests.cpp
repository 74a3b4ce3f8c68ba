// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/CardPalette.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace tallowin {
namespace {

Account named(std::string issuer, std::string label = "",
              std::optional<std::int64_t> color = std::nullopt) {
    Account account;
    account.issuer = std::move(issuer);
    account.label = std::move(label);
    account.color = color;
    return account;
}

TEST(CardPalette, TableIsInIdOrder) {
    const std::vector<std::string_view> names{"Coral",  "Tangerine", "Sunflower", "Mint",
                                              "Teal",   "Sky",       "Blue",      "Forest",
                                              "Violet", "Pink",      "Cocoa",     "Graphite"};
    const auto table = cardPalettes();
    ASSERT_EQ(table.size(), names.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].id, static_cast<int>(i));
        EXPECT_EQ(table[i].name, names[i]);
    }
}

TEST(CardPalette, HexColoursAreTopThenBottom) {
    EXPECT_EQ(hexColours(named("Google")), (std::array<std::string, 2>{"#FF6B5E", "#E5484D"}));
    EXPECT_EQ(hexColours(named("", "", 11)), (std::array<std::string, 2>{"#6B7686", "#4A5361"}));
    EXPECT_EQ(hexColours(named("", "", 2)), (std::array<std::string, 2>{"#F5BE2E", "#DE960A"}));
}

/// The automatic rule's hash, computed here over the scalar values of a lower-cased name.
int hashIndex(std::u32string_view lowerCased) {
    std::uint64_t h = 5381;
    for (const char32_t c : lowerCased) {
        h = (h * 33 + c) % 4294967296u;
    }
    return static_cast<int>(h % 12);
}

struct PaletteCase {
    const char* name;
    Account account;
    int expected;
};

void PrintTo(const PaletteCase& c, std::ostream* out) {
    *out << c.name;
}

class PaletteIndex : public testing::TestWithParam<PaletteCase> {};

TEST_P(PaletteIndex, ChoosesThePalette) {
    const PaletteCase& c = GetParam();
    EXPECT_EQ(paletteIndex(c.account), c.expected);
    EXPECT_EQ(palette(c.account), cardPalettes()[static_cast<std::size_t>(c.expected)]);
}

constexpr auto kMin64 = std::numeric_limits<std::int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Cases, PaletteIndex,
    testing::Values(PaletteCase{"ChosenColourWins", named("Google", "", 3), 3},
                    PaletteCase{"ChosenFirstAndLast", named("GitHub", "", 0), 0},
                    PaletteCase{"ChosenLast", named("Google", "", 11), 11},
                    PaletteCase{"KeywordFirstWord", named("Google Workspace"), 0},
                    PaletteCase{"KeywordSecondWord", named("Corp AWS"), 1},
                    PaletteCase{"FirstKeywordWins", named("Stripe-Google"), 8},
                    PaletteCase{"ShortKeyword", named("UI.com"), 5},
                    PaletteCase{"LabelWhenIssuerEmpty", named("", "someone@GitHub.com"), 11},
                    PaletteCase{"IssuerBeforeLabel", named("Acme", "github"), hashIndex(U"acme")},
                    PaletteCase{"WholeWordsOnly", named("Googleplex"), hashIndex(U"googleplex")},
                    PaletteCase{"EmptyNameHashesTo5381", named(""), 5},
                    // Unicode lower-casing, hashed by scalar value, not by UTF-8 byte.
                    PaletteCase{"NonAsciiHashesScalars", named("Z\u00DCRICH"),
                                hashIndex(U"z\u00FCrich")},
                    PaletteCase{"NonAsciiSeparator", named("\u00C4rzte\u00B7Google"), 0},
                    // A stored colour outside the table falls back to the automatic choice.
                    PaletteCase{"ColourTooLarge", named("Google", "", 12), 0},
                    PaletteCase{"ColourNegative", named("Coinbase", "", -1), 6},
                    PaletteCase{"ColourMostNegative", named("", "", kMin64), 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PaletteIndex, HashTestUsesAStringWhereBytesAndScalarsDiffer) {
    // Guards the case above: hashing the UTF-8 bytes of "zürich" gives another palette.
    const std::string bytes = "z\u00FCrich";
    std::u32string asBytes;
    for (const char c : bytes) {
        asBytes.push_back(static_cast<unsigned char>(c));
    }
    EXPECT_NE(hashIndex(asBytes), hashIndex(U"z\u00FCrich"));
}

} // namespace
} // namespace tallowin
