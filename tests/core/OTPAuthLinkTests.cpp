// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/OTPAuthLink.h"

#include <gtest/gtest.h>
#include <ostream>

namespace tallowin {

static void PrintTo(const AccountDraft& d, std::ostream* os) {
    *os << "{issuer \"" << d.issuer << "\", label \"" << d.label << "\", secret \"" << d.secret
        << "\", " << rawValue(d.algorithm) << ", digits " << d.digits << ", period " << d.period
        << "}";
}

namespace {

constexpr const char* kSecret = "JBSWY3DPEHPK3PXP";

AccountDraft draft(std::string issuer, std::string label, std::string secret = kSecret,
                   OTPAlgorithm algorithm = OTPAlgorithm::sha1, std::int64_t digits = 6,
                   std::int64_t period = 30) {
    return {std::move(issuer), std::move(label), std::move(secret), algorithm, digits, period};
}

struct LinkCase {
    const char* name;
    std::string link;
    AccountDraft expected;
    friend void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }
};

class ParseOTPAuthLinkTest : public testing::TestWithParam<LinkCase> {};

TEST_P(ParseOTPAuthLinkTest, ReadsTheDraft) {
    EXPECT_EQ(parseOTPAuthLink(GetParam().link), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Links, ParseOTPAuthLinkTest,
    testing::Values(
        LinkCase{"GoogleStyle",
                 "otpauth://totp/Example:alice@google.com?secret=JBSWY3DPEHPK3PXP&issuer=Example",
                 draft("Example", "alice@google.com")},
        LinkCase{"EveryParameter",
                 "otpauth://totp/ACME%20Co:john.doe@email.com?secret="
                 "HXDMVJECJJWSRB3HWIZR4IFUGFTMXBOZ&issuer=ACME%20Co&algorithm=SHA256&digits=8&"
                 "period=60",
                 draft("ACME Co", "john.doe@email.com", "HXDMVJECJJWSRB3HWIZR4IFUGFTMXBOZ",
                       OTPAlgorithm::sha256, 8, 60)},
        LinkCase{"AllUpperCaseWithLowerCaseSecret",
                 "OTPAUTH://TOTP/EXAMPLE:ALICE?SECRET=jbsw-y3dp%20ehpk%3D3pxp&ALGORITHM=SHA512&"
                 "DIGITS=7&PERIOD=15",
                 draft("EXAMPLE", "ALICE", kSecret, OTPAlgorithm::sha512, 7, 15)},
        LinkCase{"NoPath", "otpauth://totp?secret=JBSWY3DPEHPK3PXP", draft("", "")},
        LinkCase{"LabelWithoutIssuer", "otpauth://totp/alice?secret=JBSWY3DPEHPK3PXP",
                 draft("", "alice")},
        LinkCase{"EncodedColon",
                 "otpauth://totp/Microsoft%3Auser%40outlook.com?secret=JBSWY3DPEHPK3PXP",
                 draft("Microsoft", "user@outlook.com")},
        LinkCase{"SecondColonStaysInLabel", "otpauth://totp/A:b:c?secret=JBSWY3DPEHPK3PXP",
                 draft("A", "b:c")},
        LinkCase{"IssuerParameterReplacesLabelIssuer",
                 "otpauth://totp/Acme:?secret=JBSWY3DPEHPK3PXP&issuer=Other", draft("Other", "")},
        LinkCase{"EmptyIssuerParameterKeepsLabelIssuer",
                 "otpauth://totp/Acme:bob?secret=JBSWY3DPEHPK3PXP&issuer=", draft("Acme", "bob")},
        LinkCase{"LabelPartsTrimmedOfSpacesAndTabsOnly",
                 "otpauth://totp/%20Acme%09:%20bob%0A?secret=JBSWY3DPEHPK3PXP",
                 draft("Acme", "bob\n")},
        LinkCase{"IssuerParameterNotTrimmed",
                 "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&issuer=%20Acme%20",
                 draft(" Acme ", "x")},
        LinkCase{"PlusReadsAsSpaceInQueryOnly",
                 "otpauth://totp/A+B:c?secret=JBSWY3DPEHPK3PXP&issuer=Big+Corp%2B",
                 draft("Big Corp+", "c")},
        LinkCase{"LabelDecodedTwice", "otpauth://totp/Acme:a%2520b?secret=JBSWY3DPEHPK3PXP",
                 draft("Acme", "a b")},
        LinkCase{"FailedSecondDecodingKeepsFirst",
                 "otpauth://totp/100%25:x%2541?secret=JBSWY3DPEHPK3PXP", draft("100%", "x%41")},
        LinkCase{"LaterDuplicateWins",
                 "otpauth://totp/x?secret=AAAA&Secret=JBSWY3DPEHPK3PXP&digits=8&DIGITS=7",
                 draft("", "x", kSecret, OTPAlgorithm::sha1, 7)},
        LinkCase{"EncodedParameterName", "otpauth://totp/x?%73ecret=JBSWY3DPEHPK3PXP&a&=b&&",
                 draft("", "x")},
        LinkCase{"LowerCaseAlgorithm", "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&algorithm=sha256",
                 draft("", "x", kSecret, OTPAlgorithm::sha256)},
        LinkCase{"HyphenatedAlgorithmIgnored",
                 "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&algorithm=SHA-256", draft("", "x")},
        LinkCase{"DigitsTenFiveLettersIgnored",
                 "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&digits=10&digits=5&digits=six",
                 draft("", "x")},
        LinkCase{"DigitsWithPlusSign", "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&digits=%2B8",
                 draft("", "x", kSecret, OTPAlgorithm::sha1, 8)},
        LinkCase{"DigitsWithSpaceOrFractionIgnored",
                 "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&digits=8.0&digits=+8", draft("", "x")},
        LinkCase{"PeriodZeroIgnored", "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&period=0",
                 draft("", "x")},
        LinkCase{"PeriodNegativeIgnored", "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&period=-30",
                 draft("", "x")},
        LinkCase{"PeriodOverflowIgnored",
                 "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&period=99999999999999999999",
                 draft("", "x")},
        LinkCase{"PeriodFifteen", "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&period=15",
                 draft("", "x", kSecret, OTPAlgorithm::sha1, 6, 15)},
        LinkCase{"UnknownParametersAndFragmentIgnored",
                 "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&image=https://x.example/i.png&"
                 "counter=3#period=60",
                 draft("", "x")},
        LinkCase{"SurroundingWhiteSpace",
                 " \t\r\n\xC2\xA0otpauth://totp/x?secret=JBSWY3DPEHPK3PXP\xE3\x80\x80\n",
                 draft("", "x")},
        LinkCase{"UnencodedSpaces",
                 "otpauth://totp/ACME Co:john doe?secret=JBSW Y3DP EHPK 3PXP&issuer=ACME Co",
                 draft("ACME Co", "john doe")},
        LinkCase{"UnencodedUnicode",
                 "otpauth://totp/B\xC3\xBC"
                 "cher:j\xC3\xB6rg?secret=JBSWY3DPEHPK3PXP&issuer="
                 "B\xC3\xBC"
                 "cher",
                 draft("B\xC3\xBC"
                       "cher",
                       "j\xC3\xB6rg")},
        LinkCase{"EncodedUnicode", "otpauth://totp/B%C3%BCcher:j%C3%B6rg?secret=JBSWY3DPEHPK3PXP",
                 draft("B\xC3\xBC"
                       "cher",
                       "j\xC3\xB6rg")},
        LinkCase{"LonePercentInQuery", "otpauth://totp/x?secret=JBSWY3DPEHPK3PXP&issuer=50%",
                 draft("50%", "x")},
        LinkCase{"InvalidUTF8BecomesReplacementCharacter",
                 "otpauth://totp/%FF:\xFE?secret=JBSWY3DPEHPK3PXP",
                 draft("\xEF\xBF\xBD", "\xEF\xBF\xBD")}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
    const char* name;
    std::string link;
    OTPAuthError::Code code;
    std::string type;
    friend void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }
};

class ParseOTPAuthLinkErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(ParseOTPAuthLinkErrorTest, FailsWithTheRightError) {
    const ErrorCase& c = GetParam();
    try {
        const AccountDraft parsed = parseOTPAuthLink(c.link);
        ADD_FAILURE() << "parsed";
    } catch (const OTPAuthError& error) {
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.type(), c.type);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, ParseOTPAuthLinkErrorTest,
    testing::Values(
        ErrorCase{"Empty", "", OTPAuthError::notOTPAuth, ""},
        ErrorCase{"OnlyWhiteSpace", " \n\t", OTPAuthError::notOTPAuth, ""},
        ErrorCase{"OtherScheme", "https://example.com/?secret=JBSWY3DP", OTPAuthError::notOTPAuth,
                  ""},
        ErrorCase{"MigrationLink", "otpauth-migration://offline?data=CjEKCkhlbGxvId6tvu8",
                  OTPAuthError::notOTPAuth, ""},
        ErrorCase{"NoScheme", "//totp/x?secret=JBSWY3DP", OTPAuthError::notOTPAuth, ""},
        ErrorCase{"Words", "not a link", OTPAuthError::notOTPAuth, ""},
        ErrorCase{"BrokenScheme", "otp auth://totp/x?secret=JBSWY3DP", OTPAuthError::notOTPAuth,
                  ""},
        ErrorCase{"Hotp", "otpauth://hotp/x?secret=JBSWY3DP&counter=1",
                  OTPAuthError::unsupportedType, "hotp"},
        ErrorCase{"UpperCaseType", "OTPAUTH://HOTP/x", OTPAuthError::unsupportedType, "hotp"},
        ErrorCase{"EmptyType", "otpauth:///x?secret=JBSWY3DP", OTPAuthError::unsupportedType,
                  "unknown"},
        ErrorCase{"NoAuthority", "otpauth:totp?secret=JBSWY3DP", OTPAuthError::unsupportedType,
                  "unknown"},
        ErrorCase{"NoQuery", "otpauth://totp/x", OTPAuthError::invalidSecret, ""},
        ErrorCase{"EmptySecret", "otpauth://totp/x?secret=&issuer=A", OTPAuthError::invalidSecret,
                  ""},
        ErrorCase{"SecretWithoutEquals", "otpauth://totp/x?secret", OTPAuthError::invalidSecret,
                  ""},
        ErrorCase{"SecretNotBase32", "otpauth://totp/x?secret=JBSWY3D1",
                  OTPAuthError::invalidSecret, ""},
        ErrorCase{"OneBase32Character", "otpauth://totp/x?secret=J", OTPAuthError::invalidSecret,
                  ""},
        ErrorCase{"LaterBadSecretWins", "otpauth://totp/x?secret=JBSWY3DP&secret=1",
                  OTPAuthError::invalidSecret, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OTPAuthError, MessagesAreFixed) {
    EXPECT_STREQ(OTPAuthError(OTPAuthError::unsupportedType, "hotp").what(),
                 "HOTP codes aren't supported; only time-based (TOTP) codes are.");
    EXPECT_STREQ(OTPAuthError(OTPAuthError::unsupportedType).what(),
                 "UNKNOWN codes aren't supported; only time-based (TOTP) codes are.");
    EXPECT_EQ(OTPAuthError(OTPAuthError::unsupportedType).type(), "unknown");
    EXPECT_EQ(OTPAuthError(OTPAuthError::unsupportedType, "stra\xC3\x9F"
                                                          "e")
                  .message(),
              "STRASSE codes aren't supported; only time-based (TOTP) codes are.");
    EXPECT_STREQ(OTPAuthError(OTPAuthError::notOTPAuth).what(), "That isn't an otpauth:// link.");
    EXPECT_STREQ(OTPAuthError(OTPAuthError::invalidSecret).what(),
                 "The setup key isn't valid base32.");
}

TEST(ParseOTPAuthLinks, KeepsGoodLinksCountsBadOnesAndSkipsOtherText) {
    const std::string text = "Here are my codes:\n"
                             "otpauth://totp/A:one?secret=JBSWY3DPEHPK3PXP\r\n"
                             "otpauth://totp/B:two?secret=JBSW1\n"
                             "and\xC2\xA0OTPAUTH://TOTP/C:three?secret=GEZDGNBV&digits=8   thanks "
                             "otpauth: otpauth:/ https://x.example";
    const ParsedOTPAuthLinks parsed = parseOTPAuthLinks(text);
    ASSERT_EQ(parsed.drafts.size(), 2u);
    EXPECT_EQ(parsed.drafts[0], draft("A", "one"));
    EXPECT_EQ(parsed.drafts[1], draft("C", "three", "GEZDGNBV", OTPAlgorithm::sha1, 8));
    EXPECT_EQ(parsed.failures, 1u);
}

TEST(ParseOTPAuthLinks, UnencodedSpacesCutALinkApart) {
    const ParsedOTPAuthLinks parsed =
        parseOTPAuthLinks("otpauth://totp/ACME Co:bob?secret=JBSWY3DPEHPK3PXP");
    EXPECT_TRUE(parsed.drafts.empty());
    EXPECT_EQ(parsed.failures, 1u);
    EXPECT_EQ(parseOTPAuthLinks("").failures, 0u);
}

Account account(std::string issuer, std::string label, OTPAlgorithm algorithm = OTPAlgorithm::sha1,
                std::int64_t digits = 6, std::int64_t period = 30, std::string secret = kSecret) {
    Account a;
    a.issuer = std::move(issuer);
    a.label = std::move(label);
    a.secret = std::move(secret);
    a.algorithm = algorithm;
    a.digits = digits;
    a.period = period;
    return a;
}

TEST(SetupLink, WritesTheFixedForm) {
    EXPECT_EQ(setupLink(account("ACME Co", "john.doe@email.com", OTPAlgorithm::sha256, 8, 60,
                                "HXDMVJECJJWSRB3HWIZR4IFUGFTMXBOZ")),
              "otpauth://totp/ACME%20Co:john.doe@email.com?secret="
              "HXDMVJECJJWSRB3HWIZR4IFUGFTMXBOZ&algorithm=SHA256&digits=8&period=60&issuer="
              "ACME%20Co");
    EXPECT_EQ(setupLink(account("", "alice")),
              "otpauth://totp/alice?secret=JBSWY3DPEHPK3PXP&algorithm=SHA1&digits=6&period=30");
    EXPECT_EQ(setupLink(account("A+B", "c&d/e?f#g")),
              "otpauth://totp/A%2BB:c&d/e%3Ff%23g?secret=JBSWY3DPEHPK3PXP&algorithm=SHA1&"
              "digits=6&period=30&issuer=A%2BB");
}

struct RoundTripCase {
    const char* name;
    Account account;
    friend void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }
};

class SetupLinkRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(SetupLinkRoundTripTest, ReadsBackTheSameValues) {
    const Account& a = GetParam().account;
    const std::string link = setupLink(a);
    for (const char c : link) {
        ASSERT_TRUE(c > 0x20 && c < 0x7F) << link; // plain ASCII, no spaces
    }
    const AccountDraft parsed = parseOTPAuthLink(link);
    EXPECT_EQ(parsed, draft(a.issuer, a.label, a.secret, a.algorithm, a.digits, a.period)) << link;
}

INSTANTIATE_TEST_SUITE_P(
    Accounts, SetupLinkRoundTripTest,
    testing::Values(
        RoundTripCase{"LabelOnly", account("", "alice@example.com")},
        RoundTripCase{"Empty", account("", "")},
        RoundTripCase{"SlashesAndDotSegments", account("", "//../x/./..")},
        RoundTripCase{"Spaces", account("ACME Co", "john doe", OTPAlgorithm::sha512, 8, 60)},
        RoundTripCase{"PlusSigns", account("A+B", "x+y@z", OTPAlgorithm::sha256, 7, 15)},
        RoundTripCase{"ColonsInLabel", account("Example", "alice:bob:carol")},
        RoundTripCase{"ColonInLabelWithoutIssuer", account("", "user:name")},
        RoundTripCase{"ColonInIssuer", account("Team: Ops", "bob", OTPAlgorithm::sha1, 9, 1)},
        RoundTripCase{"Unicode", account("B\xC3\xBC"
                                         "cher & S\xC3\xB6hne",
                                         "\xE3\x83\xA6\xE3\x83\xBC\xE3\x82\xB6 \xF0\x9F\x99\x82")},
        RoundTripCase{"QueryAndPathDelimiters", account("a=b&c;d", "/x/y?z=1#frag")},
        RoundTripCase{"PercentSigns", account("100%", "50%25 off %41")},
        RoundTripCase{"LonePercentNextToEscape", account("%zz %41", "%")},
        RoundTripCase{"InnerTabsAndLineBreaks", account("Tab\there", "new\nline\r\n")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SetupLinksText, OneLinePerAccountEachEndedByALineFeed) {
    EXPECT_EQ(setupLinksText({}), "\n");
    const Account a = account("A", "one");
    const Account b = account("", "two");
    EXPECT_EQ(setupLinksText({a, b}), setupLink(a) + "\n" + setupLink(b) + "\n");
}

} // namespace
} // namespace tallowin
