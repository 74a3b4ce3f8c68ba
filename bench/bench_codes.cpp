// SPDX-License-Identifier: GPL-3.0-or-later
// Goal: one TOTP code costs at most 1.3 times one bare HMAC-SHA1 over the 8-byte counter.
#include "core/Base32.h"
#include "core/Totp.h"

#include <array>
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace {

const tallowin::Bytes kKey = tallowin::toBytes("12345678901234567890"); // 20 bytes

void BM_RawHmacSha1(benchmark::State& state) {
    std::uint64_t counter = 0;
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    unsigned int length = 0;
    for (auto _ : state) {
        std::array<unsigned char, 8> message{};
        std::uint64_t c = counter++;
        for (int i = 7; i >= 0; --i) {
            message[static_cast<std::size_t>(i)] = static_cast<unsigned char>(c & 0xFF);
            c >>= 8;
        }
        benchmark::DoNotOptimize(HMAC(EVP_sha1(), kKey.data(), static_cast<int>(kKey.size()),
                                      message.data(), message.size(), mac.data(), &length));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RawHmacSha1);

void BM_TotpCode(benchmark::State& state) {
    std::uint64_t counter = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            tallowin::totpCode(kKey, counter++, tallowin::OTPAlgorithm::sha1, 6));
    }
}
BENCHMARK(BM_TotpCode);

// What the account list pays per account and tick: one Base32 decode and one code.
void BM_CurrentCode(benchmark::State& state) {
    double t = 1.7e9;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tallowin::currentCode("GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ",
                                                       tallowin::OTPAlgorithm::sha1, 6, 30,
                                                       tallowin::Date::fromUnix(t)));
        t += 30;
    }
}
BENCHMARK(BM_CurrentCode);

} // namespace

namespace tallowin {
namespace {
// Twenty consecutive codes of one key, the extension reply's run per account.
void BM_TotpGenerator20(benchmark::State& state) {
    const Bytes key(20, 0x42);
    std::uint64_t counter = 59059;
    for (auto _ : state) {
        TotpGenerator generator(key, OTPAlgorithm::sha1, 6);
        for (int i = 0; i < 20; ++i) {
            benchmark::DoNotOptimize(generator.code(counter + static_cast<std::uint64_t>(i)));
        }
        ++counter;
    }
}
BENCHMARK(BM_TotpGenerator20);
} // namespace
} // namespace tallowin

BENCHMARK_MAIN();
