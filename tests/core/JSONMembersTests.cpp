// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/JSONMembers.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tallowin {
namespace {

std::vector<std::string> flatten(std::string_view text, std::size_t maxMembers = 16) {
    const auto members = splitObjectMembers(text, maxMembers);
    if (!members) {
        return {"<none>"};
    }
    std::vector<std::string> tokens;
    for (const RawJSONMember& member : *members) {
        tokens.emplace_back(member.key);
        tokens.emplace_back(member.value);
    }
    return tokens;
}

using Tokens = std::vector<std::string>;

TEST(SplitObjectMembers, DelimitsEveryKindOfValue) {
    EXPECT_EQ(flatten(R"({"a":1,"b":[1,{"c":"]}"}],"d\"":"x\"y\\","e":{"f":[]},"g":-1.5e3})"),
              (Tokens{R"("a")", "1", R"("b")", R"([1,{"c":"]}"}])", R"("d\"")", R"("x\"y\\")",
                      R"("e")", R"({"f":[]})", R"("g")", "-1.5e3"}));
    EXPECT_EQ(flatten(" \r\n\t{ \"a\" : true , \"b\":null }\n "),
              (Tokens{R"("a")", "true", R"("b")", "null"}));
    EXPECT_EQ(flatten("{ }"), Tokens{});
    // Tokens are only delimited: checking them is the parser's job.
    EXPECT_EQ(flatten(R"({"a":tru,"b":[1}})"), (Tokens{R"("a")", "tru", R"("b")", "[1}"}));
}

TEST(SplitObjectMembers, RefusesOtherShapes) {
    for (const char* text :
         {"", "[]", "1", "{", "}", R"({"a":1,})", R"({"a" 1})", R"({"a":})", R"({"a":1}x)",
          R"({"a":1 "b":2})", R"({a:1})", R"({"a":"open})", R"({"a":[1,2})", R"({"a":1}})",
          "\xEF\xBB\xBF{}", R"({"a":"x\)", R"({,})"}) {
        EXPECT_EQ(flatten(text), Tokens{"<none>"}) << text;
    }
    EXPECT_EQ(flatten(R"({"a":1,"b":2})", 1), Tokens{"<none>"});
    EXPECT_EQ(flatten(R"({"a":1,"b":2})", 2).size(), 4u);
}

} // namespace
} // namespace tallowin
