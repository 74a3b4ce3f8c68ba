// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Base32.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

struct Base32Case {
    const char* name;
    const char* text;
    std::optional<Bytes> bytes;
    friend void PrintTo(const Base32Case& c, std::ostream* os) { *os << c.name; }
};

class Base32DecodeTest : public testing::TestWithParam<Base32Case> {};

TEST_P(Base32DecodeTest, Decodes) {
    EXPECT_EQ(base32Decode(GetParam().text), GetParam().bytes);
}

const Bytes kHello = toBytes("Hello!\xDE\xAD\xBE\xEF");

INSTANTIATE_TEST_SUITE_P(
    Cases, Base32DecodeTest,
    testing::Values(Base32Case{"Canonical", "JBSWY3DPEHPK3PXP", kHello},
                    Base32Case{"LowerCaseGroups", "jbsw y3dp ehpk 3pxp", kHello},
                    Base32Case{"Hyphens", "JBSW-Y3DP-EHPK-3PXP", kHello},
                    Base32Case{"TabsAndLineFeeds", "JBSW\tY3DP\nEHPK3PXP", kHello},
                    Base32Case{"SixTrailingEquals", "MY======", toBytes("f")},
                    Base32Case{"EqualsAnywhere", "M=Y", toBytes("f")},
                    Base32Case{"TwoCharactersOneByte", "MZ", Bytes{0x66}},
                    Base32Case{"OneCharacterNoByte", "M", std::nullopt},
                    Base32Case{"OnlyDropped", "  == - ", std::nullopt},
                    Base32Case{"Empty", "", std::nullopt},
                    Base32Case{"DigitZero", "JBSWY3D0", std::nullopt},
                    Base32Case{"DigitOne", "JBSWY3D1", std::nullopt},
                    Base32Case{"DigitEight", "JBSWY3D8", std::nullopt},
                    Base32Case{"DigitNine", "JBSWY3D9", std::nullopt},
                    Base32Case{"CarriageReturn", "JBSW\r\nY3DP", std::nullopt},
                    Base32Case{"NonAscii", "JBSW\xC3\xA9", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NormalizedSecret, CleansValidKeysAndRejectsInvalidOnes) {
    EXPECT_EQ(normalizedSecret("jbsw y3dp-ehpk=3pxp\n"), "JBSWY3DPEHPK3PXP");
    EXPECT_EQ(normalizedSecret("JBSW1"), std::nullopt);
    EXPECT_EQ(normalizedSecret(""), std::nullopt);
}

TEST(Base32Decode, LongInputKeepsOnlyTheLowBitsOfTheAccumulator) {
    // 64 'A's followed by "7" patterns exercise the 32-bit accumulator wrap.
    const std::string text(200, '7');
    const auto bytes = base32Decode(text);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 125u);
    for (const auto byte : *bytes) {
        EXPECT_EQ(byte, 0xFF);
    }
}

} // namespace
} // namespace tallowin
