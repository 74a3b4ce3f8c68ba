// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"
#include "cli/PasswordPrompt.h"

#include <cstdio>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tallowin {
namespace {

using testing::ElementsAre;

const std::vector<OptionDefinition> kOptions = {
    {"json", false, {}, {}},
    {"issuer", true, "NAME", {}},
    {"digits", true, "N", {}},
};

TEST(ParseArguments, ReadsOptionsFlagsAndPositionals) {
    const ParsedArguments parsed = parseArguments(
        {"one", "--issuer", "Git Hub", "--json", "--digits=8", "-", "--", "--json", "-x"},
        kOptions);
    EXPECT_THAT(parsed.positional, ElementsAre("one", "-", "--json", "-x"));
    EXPECT_EQ(parsed.value("issuer"), "Git Hub");
    EXPECT_EQ(parsed.value("digits"), "8");
    EXPECT_TRUE(parsed.has("json"));
    EXPECT_FALSE(parsed.has("help"));
    EXPECT_EQ(parsed.value("json"), std::nullopt);

    EXPECT_EQ(parseArguments({"--issuer="}, kOptions).value("issuer"), "");
    EXPECT_EQ(parseArguments({"--issuer", "--json"}, kOptions).value("issuer"), "--json");
    EXPECT_TRUE(parseArguments({"--help"}, kOptions).has("help"));
}

TEST(ParseArguments, RefusesWhatItDoesNotKnow) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--unknown"},        {"-j"},
        {"--issuer"},         {"--json=yes"},
        {"--json", "--json"}, {"--issuer=a", "--issuer", "b"},
    };
    for (const auto& arguments : wrong) {
        EXPECT_THROW((void)parseArguments(arguments, kOptions), UsageError) << arguments.front();
    }
}

TEST(ReadSecretLine, TakesOneLineAtATime) {
    const char text[] = "first\r\n\nlast without newline";
    std::FILE* input = fmemopen(const_cast<char*>(text), sizeof text - 1, "r");
    ASSERT_NE(input, nullptr);
    std::string line;
    ASSERT_TRUE(readSecretLine(input, line));
    EXPECT_EQ(line, "first");
    ASSERT_TRUE(readSecretLine(input, line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(readSecretLine(input, line));
    EXPECT_EQ(line, "last without newline");
    EXPECT_FALSE(readSecretLine(input, line));
    std::fclose(input);
}

TEST(PasswordPrompt, StandardInputGivesOneLinePerPasswordAndChecksNewOnes) {
    const char text[] = "master pass\nshort\nlong enough 1\n";
    std::FILE* input = fmemopen(const_cast<char*>(text), sizeof text - 1, "r");
    ASSERT_NE(input, nullptr);
    PasswordPrompt prompt(true, input);
    EXPECT_EQ(prompt.ask("Master password: "), "master pass");
    EXPECT_THROW((void)prompt.askNew("New: ", "Again: "), CommandError);
    EXPECT_EQ(prompt.askNew("New: ", "Again: "), "long enough 1");
    EXPECT_THROW((void)prompt.ask("More: "), CommandError);
    std::fclose(input);
}

} // namespace
} // namespace tallowin
