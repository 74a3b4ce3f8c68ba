// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PercentEncoding.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

TEST(PercentDecoded, FailsOnMalformedEscapesAndInvalidUTF8) {
    EXPECT_EQ(percentDecoded("a%20b%2fc%C3%A9"), "a b/c\xC3\xA9");
    EXPECT_EQ(percentDecoded("plain"), "plain");
    for (const char* text : {"%", "%4", "%zz", "a%2", "%FF", "%C3", "%ED%A0%80", "\xFF"}) {
        EXPECT_EQ(percentDecoded(text), std::nullopt) << text;
    }
}

TEST(PercentDecodedLossy, KeepsMalformedEscapesAndRepairsUTF8) {
    EXPECT_EQ(percentDecodedLossy("100%%41%zz%4"), "100%A%zz%4");
    EXPECT_EQ(percentDecodedLossy("a%FFb%C3"), "a\xEF\xBF\xBD"
                                               "b\xEF\xBF\xBD");
    EXPECT_EQ(percentDecodedLossy("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD"); // overlong
}

TEST(PercentEncoded, EncodesAllButTheSetAndAlwaysPlusAndPercent) {
    const std::string text = "a b+c:d/e@f?g#h&i=j;k%l~\xC3\xA9";
    EXPECT_EQ(percentEncoded(text, PercentEncodeSet::path),
              "a%20b%2Bc:d/e@f%3Fg%23h&i=j;k%25l~%C3%A9");
    EXPECT_EQ(percentEncoded(text, PercentEncodeSet::queryValue),
              "a%20b%2Bc:d/e@f?g%23h%26i%3Dj%3Bk%25l~%C3%A9");
    EXPECT_EQ(percentDecoded(percentEncoded(text, PercentEncodeSet::queryValue)), text);
}

TEST(ValidUTF8, RejectsOverlongSurrogatesAndOutOfRange) {
    EXPECT_TRUE(isValidUTF8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x99\x82"));
    for (const char* text : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80"}) {
        EXPECT_FALSE(isValidUTF8(text)) << text;
    }
    EXPECT_EQ(repairedUTF8("a\xE2\x82z"), "a\xEF\xBF\xBDz");
}

} // namespace
} // namespace tallowin
