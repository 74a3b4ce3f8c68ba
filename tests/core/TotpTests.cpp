// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Totp.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <string>

namespace tallowin {
namespace {

// Test secrets of RFC 6238 Appendix B: the ASCII digits "1234567890" repeated to the
// length of each hash (20, 32 and 64 bytes).
const Bytes kSha1Key = toBytes("12345678901234567890");
const Bytes kSha256Key = toBytes("12345678901234567890123456789012");
const Bytes kSha512Key =
    toBytes("1234567890123456789012345678901234567890123456789012345678901234");
constexpr const char* kSha1Base32 = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
constexpr const char* kSha256Base32 = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZA";
constexpr const char* kSha512Base32 = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3"
                                      "TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNA=";

struct RfcVector {
    double unixTime;
    const char* sha1;
    const char* sha256;
    const char* sha512;
    friend void PrintTo(const RfcVector& v, std::ostream* os) { *os << "@" << v.unixTime; }
};

// RFC 6238 Appendix B, time step 30 seconds, 8 digits.
class Rfc6238Test : public testing::TestWithParam<RfcVector> {};

TEST_P(Rfc6238Test, GivesTheRfcCodes) {
    const RfcVector& v = GetParam();
    const auto counter = static_cast<std::uint64_t>(v.unixTime / 30);
    EXPECT_EQ(totpCode(kSha1Key, counter, OTPAlgorithm::sha1, 8), v.sha1);
    EXPECT_EQ(totpCode(kSha256Key, counter, OTPAlgorithm::sha256, 8), v.sha256);
    EXPECT_EQ(totpCode(kSha512Key, counter, OTPAlgorithm::sha512, 8), v.sha512);

    const Date time = Date::fromUnix(v.unixTime);
    EXPECT_EQ(currentCode(kSha1Base32, OTPAlgorithm::sha1, 8, 30, time), v.sha1);
    EXPECT_EQ(currentCode(kSha256Base32, OTPAlgorithm::sha256, 8, 30, time), v.sha256);
    EXPECT_EQ(currentCode(kSha512Base32, OTPAlgorithm::sha512, 8, 30, time), v.sha512);
}

INSTANTIATE_TEST_SUITE_P(AppendixB, Rfc6238Test,
                         testing::Values(RfcVector{59, "94287082", "46119246", "90693936"},
                                         RfcVector{1111111109, "07081804", "68084774", "25091201"},
                                         RfcVector{1111111111, "14050471", "67062674", "99943326"},
                                         RfcVector{1234567890, "89005924", "91819424", "93441116"},
                                         RfcVector{2000000000, "69279037", "90698825", "38618901"},
                                         RfcVector{20000000000, "65353130", "77737706",
                                                   "47863826"}),
                         [](const auto& info) {
                             return "At" +
                                    std::to_string(static_cast<long long>(info.param.unixTime));
                         });

TEST(TotpCode, ClampsDigitsToSixThroughNine) {
    // Counter 1 of the RFC SHA-1 key; the truncated value ends in ...094287082.
    EXPECT_EQ(totpCode(kSha1Key, 1, OTPAlgorithm::sha1, 4), "287082");
    EXPECT_EQ(totpCode(kSha1Key, 1, OTPAlgorithm::sha1, -1), "287082");
    EXPECT_EQ(totpCode(kSha1Key, 1, OTPAlgorithm::sha1, 7), "4287082");
    EXPECT_EQ(totpCode(kSha1Key, 1, OTPAlgorithm::sha1, 9), "094287082");
    EXPECT_EQ(totpCode(kSha1Key, 1, OTPAlgorithm::sha1, 10), "094287082");
    EXPECT_EQ(totpCode(kSha1Key, 1, OTPAlgorithm::sha1, std::numeric_limits<std::int64_t>::max()),
              "094287082");
}

TEST(TotpCode, AcceptsAnEmptyKeyAndTheLargestCounter) {
    // Expected values from an independent HMAC implementation.
    EXPECT_EQ(totpCode({}, 0, OTPAlgorithm::sha1, 6), "328482");
    EXPECT_EQ(totpCode({}, 1, OTPAlgorithm::sha256, 8), "11007993");
    EXPECT_EQ(totpCode(kSha1Key, UINT64_MAX, OTPAlgorithm::sha512, 6).size(), 6u);
}

TEST(TotpCounter, TruncatesAndGuardsOddTimesAndPeriods) {
    EXPECT_EQ(totpCounter(30, Date::fromUnix(59.999)), 1u);
    EXPECT_EQ(totpCounter(30, Date::fromUnix(60)), 2u);
    EXPECT_EQ(totpCounter(0, Date::fromUnix(59.5)), 59u);   // period 0 acts as 1
    EXPECT_EQ(totpCounter(-30, Date::fromUnix(59.5)), 59u); // and so does a negative one
    EXPECT_EQ(totpCounter(30, Date::fromUnix(-1)), 0u);     // before 1970
    EXPECT_EQ(totpCounter(30, Date{-1e300}), 0u);
    EXPECT_EQ(totpCounter(30, Date{std::nan("")}), 0u);
    EXPECT_EQ(totpCounter(1, Date{1e300}), UINT64_MAX);
    EXPECT_EQ(totpCounter(1, Date{std::numeric_limits<double>::infinity()}), UINT64_MAX);
}

TEST(CurrentCode, UsesTheCounterRulesForOddTimesAndPeriods) {
    const auto code = [](std::int64_t period, Date time) {
        return currentCode(kSha1Base32, OTPAlgorithm::sha1, 8, period, time);
    };
    EXPECT_EQ(code(0, Date::fromUnix(2)), totpCode(kSha1Key, 2, OTPAlgorithm::sha1, 8));
    EXPECT_EQ(code(30, Date::fromUnix(-3600)), totpCode(kSha1Key, 0, OTPAlgorithm::sha1, 8));
    EXPECT_EQ(code(30, Date{std::nan("")}), totpCode(kSha1Key, 0, OTPAlgorithm::sha1, 8));
}

TEST(CurrentCode, AccountAndDraftUseTheirOwnParameters) {
    Account account;
    account.secret = "gezd gnbv gy3t qojq gezd gnbv gy3t qojq"; // as typed, still valid
    account.algorithm = OTPAlgorithm::sha1;
    account.digits = 8;
    account.period = 60;
    const Date time = Date::fromUnix(1111111109);
    const std::string expected = totpCode(kSha1Key, 1111111109 / 60, OTPAlgorithm::sha1, 8);
    EXPECT_EQ(currentCode(account, time), expected);

    AccountDraft draft{"", "", account.secret, OTPAlgorithm::sha1, 8, 60};
    EXPECT_EQ(currentCode(draft, time), expected);
    draft.algorithm = OTPAlgorithm::sha256;
    EXPECT_NE(currentCode(draft, time), expected);
}

TEST(CurrentCode, InvalidSecretGivesARowOfHyphensAsLongAsTheStoredDigits) {
    const Date time = Date::fromUnix(59);
    for (const char* secret : {"", "JBSW1", "not base32!", "A"}) {
        EXPECT_EQ(currentCode(secret, OTPAlgorithm::sha1, 6, 30, time), "------") << secret;
    }
    EXPECT_EQ(currentCode("JBSW1", OTPAlgorithm::sha1, 10, 30, time), "----------");
    EXPECT_EQ(currentCode("JBSW1", OTPAlgorithm::sha1, 4, 30, time), "----");
    EXPECT_EQ(currentCode("JBSW1", OTPAlgorithm::sha1, 0, 30, time), "");
    EXPECT_EQ(currentCode("JBSW1", OTPAlgorithm::sha1, -5, 30, time), "");
    // A damaged vault can't make the placeholder grow without bound.
    EXPECT_EQ(currentCode("JBSW1", OTPAlgorithm::sha1, std::int64_t{1} << 40, 30, time),
              std::string(kMaxPlaceholderLength, '-'));
}

TEST(GroupedCode, SplitsAfterTheFirstHalfFromFiveCharactersOn) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"1234", "1234"},
        {"12345", "12 345"},
        {"123456", "123 456"},
        {"1234567", "123 4567"},
        {"12345678", "1234 5678"},
        {"123456789", "1234 56789"},
        {"------", "--- ---"},
        {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9"},
    };
    for (const auto& [code, grouped] : cases) {
        EXPECT_EQ(groupedCode(code), grouped) << code;
    }
}

TEST(SecondsRemaining, CountsDownWithinEachStep) {
    struct Case {
        std::int64_t period;
        double unixTime;
        double remaining;
    };
    const Case cases[] = {
        {30, 0, 30},
        {30, 59, 1},
        {30, 59.25, 0.75},
        {30, 60, 30},
        {60, 1111111109, 31},
        {0, 10.5, 0.5}, // period 0 acts as 1
        {-7, 10.25, 0.75},
        {30, -10, 30}, // before 1970 counts as 1970
        {30, std::nan(""), 30},
        {30, std::numeric_limits<double>::infinity(), 30},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(secondsRemaining(c.period, Date::fromUnix(c.unixTime)), c.remaining)
            << c.period << " " << c.unixTime;
    }
}

} // namespace
} // namespace tallowin

namespace tallowin {
namespace {

TEST(TotpGenerator, AgreesWithTotpCodeForEveryKeyLengthAndAlgorithm) {
    for (const std::size_t length : {0u, 1u, 20u, 64u, 65u, 128u, 129u, 300u}) {
        Bytes secret(length);
        for (std::size_t i = 0; i < length; ++i) {
            secret[i] = static_cast<std::uint8_t>(i * 7 + 3);
        }
        for (const auto algorithm :
             {OTPAlgorithm::sha1, OTPAlgorithm::sha256, OTPAlgorithm::sha512}) {
            for (const std::int64_t digits : {4, 6, 8, 10}) {
                TotpGenerator generator(secret, algorithm, digits);
                for (const std::uint64_t counter : {0ull, 1ull, 59059ull, 0xFFFFFFFFFFFFFFFFull}) {
                    EXPECT_EQ(generator.code(counter), totpCode(secret, counter, algorithm, digits))
                        << length << " " << rawValue(algorithm) << " " << digits << " " << counter;
                }
            }
        }
    }
}

} // namespace
} // namespace tallowin
