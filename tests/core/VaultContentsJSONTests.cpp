// SPDX-License-Identifier: GPL-3.0-or-later
// The quick contents reader and writer against their tree-based counterparts: the same
// accounts or the same error for every document, the same bytes for every account list.
#include "core/VaultContentsJSON.h"
#include "core/VaultEnvelope.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <variant>
#include <vector>

namespace tallowin {
namespace {

constexpr const char* kId = "7C8A2B4E-1F3D-4E5A-9B6C-0D1E2F3A4B5C";

/// How a read ends: the accounts, or the message of the JSONDecodeError that stopped it.
using Outcome = std::variant<std::vector<Account>, std::string>;

template <typename Read> Outcome outcomeOf(Read read) {
    try {
        return read();
    } catch (const JSONDecodeError& error) {
        return std::string(error.what());
    }
}

bool sameBits(Date a, Date b) {
    return std::memcmp(&a.sinceReference, &b.sinceReference, sizeof(double)) == 0;
}

/// Equal, and equal down to the sign of a zero date.
bool identical(const Outcome& a, const Outcome& b) {
    if (a != b) {
        return false;
    }
    if (const auto* accounts = std::get_if<std::vector<Account>>(&a)) {
        const auto& others = std::get<std::vector<Account>>(b);
        for (std::size_t i = 0; i < accounts->size(); ++i) {
            const Account& x = (*accounts)[i];
            const Account& y = others[i];
            if (!sameBits(x.createdAt, y.createdAt) || !sameBits(x.updatedAt, y.updatedAt) ||
                (x.deletedAt && !sameBits(*x.deletedAt, *y.deletedAt))) {
                return false;
            }
        }
    }
    return true;
}

std::string describe(const Outcome& outcome) {
    if (const auto* message = std::get_if<std::string>(&outcome)) {
        return "error: " + *message;
    }
    const auto& accounts = std::get<std::vector<Account>>(outcome);
    return toString(writeContentsJSONTree(accounts).span());
}

/// Which reader a document is for: the quick one must take it (give accounts or fail
/// itself), or must leave it to the tree.
enum class Taken { quickly, byTree };

struct DocumentCase {
    const char* name;
    std::string text;
    Taken taken = Taken::quickly;
};

void PrintTo(const DocumentCase& c, std::ostream* out) {
    *out << c.name;
}

/// An array of one account with the id and secret and the members given.
std::string oneAccount(const std::string& members) {
    return std::string(R"({"accounts":[{"id":")") + kId + R"(","secret":"S")" +
           (members.empty() ? "" : ",") + members + "}]}";
}

std::vector<DocumentCase> documentCases() {
    const std::string full =
        std::string(R"({"algorithm":"SHA512","color":3,"createdAt":794937600.123456,)"
                    R"("deletedAt":796000000.5,"digits":8,"id":")") +
        kId +
        R"(","issuer":"Ex\"ample","label":"ana@example.org","period":60,"secret":"JBSWY3DP",)"
        R"("updatedAt":795000000.25,"updatedBy":"DEV-1","websites":["example.org","a.b"]})";
    std::string deep = "[";
    for (int i = 0; i < 70; ++i) {
        deep += "[";
    }
    deep += std::string(71, ']');
    std::string veryDeep(20000, '[');
    veryDeep += std::string(20000, ']');
    return {
        // Well-formed documents.
        {"empty", R"({"accounts":[]})"},
        {"full", R"({"accounts":[)" + full + "," + full + "]}"},
        {"whiteSpace", " \t\r\n{ \"accounts\" : [ { \"id\" : \"" + std::string(kId) +
                           "\" , \"secret\" : \"S\" , \"websites\" : [ ] } ] } \n"},
        {"lowerCaseId",
         R"({"accounts":[{"id":"7c8a2b4e-1f3d-4e5a-9b6c-0d1e2f3a4b5c","secret":""}]})"},
        {"escapes",
         oneAccount(R"("issuer":"q\" b\\ s\/ \b\f\n\r\t \u0041\u00e9\u6771\ud83d\ude00 \u0000",)"
                    R"("label":"\uD83D\uDE00\u00E9","websites":["\u002f","a\"b"])")},
        {"escapedKeys",
         R"({"\u0061ccounts":[{"\u0069d":")" + std::string(kId) + R"(","secre\u0074":"S"}]})"},
        {"rawUnicode", oneAccount("\"issuer\":\"Caf\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC "
                                  "\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF \xEF\xBF\xBF\x7F\"")},
        {"nullMembers", oneAccount(R"("issuer":null,"label":null,"algorithm":null,"digits":null,)"
                                   R"("color":null,"websites":null,"createdAt":null,)"
                                   R"("updatedAt":null,"updatedBy":null,"deletedAt":null)")},
        {"duplicatesLastWins",
         oneAccount(R"("secret":"B","color":"x","color":3,"websites":5,"websites":["a"],)"
                    R"("digits":"6","digits":7,"issuer":"a","issuer":null,"createdAt":1)")},
        {"duplicateWebsitesLastWins", oneAccount(R"("websites":[1],"websites":["a"])")},
        {"duplicateWebsitesLastFails", oneAccount(R"("websites":["a"],"websites":["b",{}])")},
        {"duplicateIdLastWins",
         std::string(R"({"accounts":[{"id":"bad","secret":"S","id":")") + kId + "\"}]}"},
        {"duplicateAccountsLastWins",
         std::string(R"({"accounts":[{"secret":1}],"accounts":null,"accounts":[{"id":")") + kId +
             R"(","secret":"S"}]})"},
        {"duplicateAccountsFirstGood",
         std::string(R"({"accounts":[{"id":")") + kId + R"(","secret":"S"}],"accounts":7})"},
        {"unknownNested",
         std::string(R"({"meta":{"v":[[],{},[{"x":[true,false,null,"\u0000\ud83d\ude00"]}]]},)") +
             R"("accounts":[{"extra":{"a":[1,{"b":[-1.5e-3,0,-0,1E+2]}],"c":"\n"},"id":")" + kId +
             R"(","secret":"S","websitesX":[1],"Id":1,"":{}}],"zzz":"end"})"},
        {"integralFloats", oneAccount(R"("digits":6.0,"period":3e1,"color":-0.0,)"
                                      R"("createdAt":1e5,"updatedAt":-0,"deletedAt":-0.0)")},
        {"colorRange", oneAccount(R"("color":-9223372036854775808,"digits":9223372036854775807,)"
                                  R"("period":-9223372036854775809)")},
        {"largeFloatInRange", oneAccount(R"("color":-9.223372036854775e18)")},
        {"hugeDates", oneAccount(R"("createdAt":1.7976931348623157e308,)"
                                 R"("updatedAt":123456789012345678901234567890,)"
                                 R"("deletedAt":18446744073709551615)")},
        {"fractionalDates", oneAccount(R"("createdAt":0.1,"updatedAt":-978307200.000001,)"
                                       R"("deletedAt":9007199254740993)")},
        {"manyDigits", oneAccount(R"("createdAt":794937600.12345678901234567890123456789e0)")},
        {"deepUnknownValue", R"({"accounts":[],"x":)" + deep + "}", Taken::byTree},
        {"veryDeepUnknownValue", R"({"accounts":[],"x":)" + veryDeep + "}", Taken::byTree},
        {"byteOrderMark", "\xEF\xBB\xBF{\"accounts\":[]}", Taken::byTree},
        {"trailingNulAndBytes", std::string("{\"accounts\":[]}\0junk", 20), Taken::byTree},
        // Documents that do not decode.
        {"missingAccounts", R"({"account":[]})"},
        {"emptyObject", "{}"},
        {"nullAccounts", R"({"accounts":null})"},
        {"accountsObject", R"({"accounts":{}})"},
        {"accountsString", R"({"accounts":"[]"})"},
        {"accountNotObject", R"({"accounts":[[]]})"},
        {"accountNull", R"({"accounts":[null]})"},
        {"noId", R"({"accounts":[{"secret":"A"}]})"},
        {"noSecret", std::string(R"({"accounts":[{"id":")") + kId + "\"}]}"},
        {"idNumber", R"({"accounts":[{"id":1,"secret":"A"}]})"},
        {"idNotUuid",
         R"({"accounts":[{"id":"7C8A2B4E-1F3D-4E5A-9B6C-0D1E2F3A4B5","secret":"A"}]})"},
        {"firstErrorCounts", R"({"accounts":[{"secret":"A","digits":"x"}]})"},
        {"secretArray", oneAccount(R"("secret":["S"])")},
        {"issuerBool", oneAccount(R"("issuer":true)")},
        {"labelNumber", oneAccount(R"("label":1)")},
        {"updatedByObject", oneAccount(R"("updatedBy":{})")},
        {"algorithmLowerCase", oneAccount(R"("algorithm":"sha1")")},
        {"algorithmNumber", oneAccount(R"("algorithm":1)")},
        {"digitsFraction", oneAccount(R"("digits":6.5)")},
        {"digitsString", oneAccount(R"("digits":"6")")},
        {"periodTooLarge", oneAccount(R"("period":9223372036854775808)")},
        {"colorFloatTooLarge", oneAccount(R"("color":9.2233720368547758e18)")},
        {"colorOverflowingInteger", oneAccount(R"("color":18446744073709551616)")},
        {"websitesString", oneAccount(R"("websites":"a.com")")},
        {"websitesObject", oneAccount(R"("websites":{"a":"b"})")},
        {"websitesNumbers", oneAccount(R"("websites":["a",1,"b"])")},
        {"websitesNull", oneAccount(R"("websites":["a",null])")},
        {"createdAtString", oneAccount(R"("createdAt":"2020-01-01")")},
        {"deletedAtBool", oneAccount(R"("deletedAt":false)")},
        {"laterAccountBad", std::string(R"({"accounts":[{"id":")") + kId +
                                R"(","secret":"A"},{"id":")" + kId + R"(","secret":null}]})"},
        {"badThenNotObject", R"({"accounts":[{"secret":"A"},7]})"},
        {"notObjectThenBad", R"({"accounts":[7,{"secret":"A"}]})"},
        {"errorThenSyntaxError", R"({"accounts":[{"secret":"A"},{]})", Taken::byTree},
        {"topLevelArray", R"([{"accounts":[]}])", Taken::byTree},
        {"topLevelString", R"("accounts")", Taken::byTree},
        // Not JSON at all.
        {"emptyText", "", Taken::byTree},
        {"trailingComma", R"({"accounts":[],})", Taken::byTree},
        {"trailingCommaInArray", oneAccount(R"("websites":["a",])"), Taken::byTree},
        {"arrayClosedByBrace", R"({"accounts":[],"x":[[1}]})", Taken::byTree},
        {"objectClosedByBracket", R"({"accounts":[],"x":{"a":{"b":1]}})", Taken::byTree},
        {"websitesClosedByBrace", oneAccount(R"("websites":["a"})"), Taken::byTree},
        {"accountsClosedByBrace", R"({"accounts":[})", Taken::byTree},
        {"missingColon", R"({"accounts" []})", Taken::byTree},
        {"missingComma", oneAccount(R"("issuer":"a" "label":"b")"), Taken::byTree},
        {"leadingZero", oneAccount(R"("digits":06)"), Taken::byTree},
        {"bareFraction", oneAccount(R"("digits":6.)"), Taken::byTree},
        {"plusSign", oneAccount(R"("digits":+6)"), Taken::byTree},
        {"numberOverflow", oneAccount(R"("createdAt":1e400)"), Taken::byTree},
        {"unknownNumberOverflow", oneAccount(R"("x":[-1e309])"), Taken::byTree},
        {"trailingText", R"({"accounts":[]} x)", Taken::byTree},
        {"badLiteral", oneAccount(R"("issuer":nul)"), Taken::byTree},
        {"unterminatedString", oneAccount(R"("issuer":"abc)"), Taken::byTree},
        {"controlCharacter", oneAccount("\"issuer\":\"a\x01\""), Taken::byTree},
        {"badEscape", oneAccount(R"("issuer":"\x")"), Taken::byTree},
        {"shortUnicodeEscape", oneAccount(R"("issuer":"\u12")"), Taken::byTree},
        {"loneLowSurrogate", oneAccount(R"("issuer":"\udc00")"), Taken::byTree},
        {"loneHighSurrogate", oneAccount(R"("issuer":"\ud83d.")"), Taken::byTree},
        {"highSurrogateThenLetter", oneAccount(R"("issuer":"\ud83d\u0041")"), Taken::byTree},
        {"overlongUTF8", oneAccount("\"issuer\":\"\xC0\xAF\""), Taken::byTree},
        {"surrogateUTF8", oneAccount("\"label\":\"\xED\xA0\x80\""), Taken::byTree},
        {"beyondUnicodeUTF8", oneAccount("\"label\":\"\xF4\x90\x80\x80\""), Taken::byTree},
        {"truncatedUTF8", oneAccount("\"label\":\"\xE2\x82\""), Taken::byTree},
        {"strayContinuationInKey", oneAccount("\"\x80\":1"), Taken::byTree},
        {"invalidByteInUnknownValue", oneAccount("\"x\":[\"\xFF\"]"), Taken::byTree},
        {"unterminatedDocument", R"({"accounts":[)", Taken::byTree},
    };
}

class ContentsDecoding : public testing::TestWithParam<DocumentCase> {};

TEST_P(ContentsDecoding, QuickReaderAgreesWithTree) {
    const DocumentCase& c = GetParam();
    const Outcome tree = outcomeOf([&] { return readContentsJSONTree(c.text); });
    const Outcome decoded = outcomeOf([&] { return decodeContents(toBytes(c.text)).accounts; });
    EXPECT_TRUE(identical(decoded, tree))
        << "decodeContents: " << describe(decoded) << "\ntree: " << describe(tree);

    std::optional<Outcome> quick;
    try {
        if (auto accounts = readContentsJSONQuickly(c.text)) {
            quick = std::move(*accounts);
        }
    } catch (const JSONDecodeError& error) {
        quick = std::string(error.what());
    }
    EXPECT_EQ(quick.has_value(), c.taken == Taken::quickly);
    if (quick) {
        EXPECT_TRUE(identical(*quick, tree))
            << "quick: " << describe(*quick) << "\ntree: " << describe(tree);
    }
}

INSTANTIATE_TEST_SUITE_P(Documents, ContentsDecoding, testing::ValuesIn(documentCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ContentsDecoding, KeepsWhatTheTreeWouldReadInDetail) {
    // The table compares both readers; this pins what they agree on.
    const auto accounts = readContentsJSONQuickly(
        oneAccount(R"("secret":"B","color":"x","color":3,"websites":5,"websites":["a"],)"
                   R"("digits":"6","digits":7,"issuer":"a","issuer":null,"createdAt":1)"));
    ASSERT_TRUE(accounts);
    ASSERT_EQ(accounts->size(), 1u);
    const Account& account = accounts->front();
    EXPECT_EQ(account.secret, "B");
    EXPECT_EQ(account.color, 3);
    EXPECT_EQ(account.websites, std::vector<std::string>{"a"});
    EXPECT_EQ(account.digits, 7);
    EXPECT_EQ(account.issuer, "");
    EXPECT_EQ(account.updatedAt, Date{1});

    const auto range = readContentsJSONQuickly(
        oneAccount(R"("color":-9223372036854775808,"digits":9223372036854775807,)"
                   R"("period":-9223372036854775809)"));
    ASSERT_TRUE(range);
    EXPECT_EQ(range->front().color, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(range->front().digits, std::numeric_limits<std::int64_t>::max());
    // Too negative for an integer, read as a double that rounds to -2^63.
    EXPECT_EQ(range->front().period, std::numeric_limits<std::int64_t>::min());
}

/// Text with the bytes that are escaped or replaced, valid UTF-8 around them.
std::vector<std::string> awkwardStrings() {
    std::string controls;
    for (char c = 0; c < 0x20; ++c) {
        controls.push_back(c);
    }
    return {
        "",
        controls,
        "\x7F quote\" backslash\\ slash/ tab\t",
        "Caf\xC3\xA9 \xE6\x9D\xB1 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF",
        "\xC0\x80 \xC1\xBF overlong",
        "\xE0\x80\x80 \xE0\x9F\xBF overlong three",
        "\xED\xA0\x80 \xED\xBF\xBF surrogates",
        "\xF0\x80\x80\x80 \xF4\x90\x80\x80 \xF5\x80 \xFF \xFE",
        "\x80 \xBF stray continuations",
        "broken \xE2\x82"
        "A and \xF0\x9F\x98"
        "B",
        "\xC3",
        "ends broken \xF0\x9F\x98",
        "\xE2\x82\xE2\x82\xAC",
        std::string("nul \0 inside", 12),
    };
}

std::vector<Account> awkwardAccounts() {
    const double dates[] = {0.0,
                            -0.0,
                            -978307200.0,
                            794937600.123456,
                            0.1,
                            9007199254740991.0,
                            9007199254740992.0,
                            -9007199254740994.0,
                            1e300,
                            -1e-300,
                            5e-324,
                            std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity()};
    const std::int64_t integers[] = {0, -1, 6, std::numeric_limits<std::int64_t>::min(),
                                     std::numeric_limits<std::int64_t>::max()};
    const auto strings = awkwardStrings();
    std::vector<Account> accounts;
    for (std::size_t i = 0; i < strings.size() * 3; ++i) {
        Account account;
        account.id.bytes[0] = static_cast<std::uint8_t>(i * 37);
        account.id.bytes[15] = static_cast<std::uint8_t>(0xFF - i);
        account.issuer = strings[i % strings.size()];
        account.label = strings[(i + 1) % strings.size()];
        account.secret = strings[(i + 2) % strings.size()];
        account.updatedBy = strings[(i + 3) % strings.size()];
        account.algorithm = static_cast<OTPAlgorithm>(i % 3);
        account.digits = integers[i % 5];
        account.period = integers[(i + 1) % 5];
        if (i % 2 == 0) {
            account.color = integers[(i + 2) % 5];
        }
        for (std::size_t w = 0; w < i % 4; ++w) {
            account.websites.push_back(strings[(i + w) % strings.size()]);
        }
        account.createdAt = Date{dates[i % std::size(dates)]};
        account.updatedAt = Date{dates[(i + 4) % std::size(dates)]};
        if (i % 3 == 0) {
            account.deletedAt = Date{dates[(i + 9) % std::size(dates)]};
        }
        accounts.push_back(std::move(account));
    }
    return accounts;
}

TEST(ContentsEncoding, WritesExactlyWhatTheTreeWrites) {
    const auto accounts = awkwardAccounts();
    EXPECT_EQ(toString(writeContentsJSON(accounts).span()),
              toString(writeContentsJSONTree(accounts).span()));
    EXPECT_EQ(toString(writeContentsJSON({}).span()), R"({"accounts":[]})");
    for (const Account& account : accounts) {
        const std::span<const Account> one(&account, 1);
        ASSERT_EQ(toString(writeContentsJSON(one).span()),
                  toString(writeContentsJSONTree(one).span()))
            << "issuer " << testing::PrintToString(account.issuer);
    }
}

TEST(ContentsEncoding, GrowsPastItsFirstEstimate) {
    // Control characters take six bytes each, far beyond the room set aside at first.
    Account account;
    account.issuer = std::string(100000, '\x01');
    account.label = std::string(50000, '\xFF');
    account.websites.assign(300, std::string(40, '\x1F'));
    const std::vector<Account> accounts(3, account);
    const SecretBytes quick = writeContentsJSON(accounts);
    EXPECT_TRUE(quick == writeContentsJSONTree(accounts));
    EXPECT_GT(quick.size(), 3u * 6u * 100000u);
}

TEST(ContentsEncoding, ReadsBackWhatItWrites) {
    std::vector<Account> accounts;
    for (int i = 0; i < 50; ++i) {
        Account account =
            makeAccount({"Caf\u00E9 \"" + std::to_string(i) + "\"", "user\\" + std::to_string(i),
                         "JBSWY3DPEHPK3PXP", static_cast<OTPAlgorithm>(i % 3), 6 + i % 3, 30},
                        "DEVICE\n" + std::to_string(i), Date{700000000.0 + i * 3600.25});
        if (i % 2 == 0) {
            account.websites = {"example.org", "\u65E5\u672C.jp"};
            account.color = i;
            account.deletedAt = Date{794937600.5 + i};
        }
        accounts.push_back(std::move(account));
    }
    const SecretBytes text = writeContentsJSON(accounts);
    const auto quick = readContentsJSONQuickly(toString(text.span()));
    ASSERT_TRUE(quick);
    EXPECT_EQ(*quick, accounts);
    EXPECT_EQ(decodeContents(text.span()).accounts, accounts);
}

} // namespace
} // namespace tallowin
