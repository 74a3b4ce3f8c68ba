// SPDX-License-Identifier: GPL-3.0-or-later
// Compares the codes with those of oathtool (OATH Toolkit), an independent implementation.
#include "core/Base32.h"
#include "core/Totp.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace tallowin {
namespace {

#ifndef TALLOWIN_OATHTOOL
#define TALLOWIN_OATHTOOL ""
#endif

constexpr int kWindow = 2; // oathtool prints this many following steps too

/// Runs oathtool for the step holding `unixTime` and the kWindow steps after it.
std::vector<std::string> oathtoolCodes(const std::string& base32Secret, OTPAlgorithm algorithm,
                                       int digits, int period, long long unixTime) {
    std::ostringstream command;
    command << "'" << TALLOWIN_OATHTOOL << "' --totp=" << rawValue(algorithm) << " --base32"
            << " --digits=" << digits << " --time-step-size=" << period << "s"
            << " --now=@" << unixTime << " --window=" << kWindow << " '" << base32Secret
            << "' 2>&1";
    FILE* pipe = popen(command.str().c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    std::vector<std::string> codes;
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string code(line);
        while (!code.empty() && (code.back() == '\n' || code.back() == '\r')) {
            code.pop_back();
        }
        codes.push_back(code);
    }
    pclose(pipe);
    return codes;
}

TEST(TotpAgainstOathtool, AgreesOverSecretsAlgorithmsDigitsAndPeriods) {
    if (std::string(TALLOWIN_OATHTOOL).empty()) {
        GTEST_SKIP() << "oathtool not found when configuring (scripts/setup.sh installs it)";
    }
    const char* secrets[] = {
        "MZ",                                                   // 1 byte
        "jbsw y3dp ehpk 3pxp",                                  // 10 bytes, typed by hand
        "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ",                     // 20 bytes
        "ZDE4VS6MZXHM7UGR2LJ5JVOW27MNTWW33TO55X7A4HROHZHF43TQ", // 32 bytes
        // 150 bytes: longer than every hash block, so HMAC hashes the key first.
        "A4EASCQLBQGQ4DYQCEJBGFAVCYLRQGI2DMOB2HQ7EAQSEIZEEUTCOKBJFIVSYLJOF4YDCMRTGQ2TMNZYHE5DWPB5"
        "HY7UAQKCINCEKRSHJBEUUS2MJVHE6UCRKJJVIVKWK5MFSWS3LROV4X3AMFRGGZDFMZTWQ2LKNNWG23TPOBYXE43U"
        "OV3HO6DZPJ5XY7L6P6AIDAUDQSCYNB4IRGFIXDENR2HZBEMSSOKJLFUXTCMZVG44",
    };
    const struct {
        int period;
        long long unixTime;
    } instants[] = {{30, 59}, {60, 1111111109}, {1, 1234567890}, {45, 20000000000}};

    for (const char* secret : secrets) {
        const auto key = base32Decode(secret);
        ASSERT_TRUE(key) << secret;
        for (const auto algorithm :
             {OTPAlgorithm::sha1, OTPAlgorithm::sha256, OTPAlgorithm::sha512}) {
            for (const int digits : {6, 7, 8}) {
                for (const auto& [period, unixTime] : instants) {
                    SCOPED_TRACE(testing::Message()
                                 << secret << " " << rawValue(algorithm) << " " << digits
                                 << " digits, period " << period << ", @" << unixTime);
                    const auto expected =
                        oathtoolCodes(secret, algorithm, digits, period, unixTime);
                    ASSERT_EQ(expected.size(), std::size_t{kWindow + 1})
                        << (expected.empty() ? "" : expected.front());

                    const Date time = Date::fromUnix(static_cast<double>(unixTime));
                    EXPECT_EQ(currentCode(secret, algorithm, digits, period, time), expected[0]);
                    const std::uint64_t counter = totpCounter(period, time);
                    for (int step = 0; step <= kWindow; ++step) {
                        EXPECT_EQ(totpCode(*key, counter + step, algorithm, digits),
                                  expected[static_cast<std::size_t>(step)]);
                    }
                }
            }
        }
    }
}

} // namespace
} // namespace tallowin
