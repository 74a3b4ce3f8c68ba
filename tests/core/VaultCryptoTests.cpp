// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/VaultCrypto.h"
#include "core/VaultError.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace tallowin {
namespace {

class ZeroRandom final : public RandomSource {
public:
    void fill(std::span<std::uint8_t> out) override { std::fill(out.begin(), out.end(), 0); }
};

std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

VaultError::Code vaultErrorOf(const auto& operation) {
    try {
        operation();
    } catch (const VaultError& error) {
        return error.code();
    }
    ADD_FAILURE() << "no VaultError";
    return VaultError::keyUnavailable;
}

TEST(DeriveWrappingKey, MatchesPbkdf2HmacSha256Vector) {
    // RFC 7914, section 11: P = "passwd", S = "salt", c = 1 (first 32 of 64 bytes).
    EXPECT_EQ(hex(deriveWrappingKey("passwd", toBytes("salt"), 1).span()),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc");
}

TEST(DeriveWrappingKey, ComposedAndDecomposedPasswordsGiveTheSameKey) {
    const Bytes salt = toBytes("0123456789abcdef");
    const auto composed = deriveWrappingKey("Gr\u00FC\u00DFe \u00C5ngstr\u00F6m", salt, 3);
    EXPECT_EQ(composed, deriveWrappingKey("Gru\u0308\u00DFe A\u030Angstro\u0308m", salt, 3));
    EXPECT_NE(composed, deriveWrappingKey("Grusse Angstrom", salt, 3));
    EXPECT_EQ(composed.size(), 32u);
}

TEST(DeriveWrappingKey, RefusesIterationCountsOutsideTheAcceptedRange) {
    const Bytes salt(16, 7);
    for (const std::int64_t iterations :
         {std::int64_t{0}, std::int64_t{-1}, std::int64_t{-600000}, kMaxAcceptedKDFIterations + 1,
          std::int64_t{4294967295}, std::int64_t{4294967296},
          std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}) {
        EXPECT_EQ(vaultErrorOf([&] { (void)deriveWrappingKey("pw", salt, iterations); }),
                  VaultError::corrupted)
            << iterations;
    }
    EXPECT_EQ(deriveWrappingKey("pw", salt, 1).size(), 32u);
}

TEST(SealBox, LaysOutNonceCiphertextTagAsAesGcm) {
    // AES-256-GCM test case 14 (McGrew & Viega): zero key, zero nonce, 16 zero bytes.
    ZeroRandom zeros;
    const Bytes key(32, 0);
    const Bytes box = sealBox(Bytes(16, 0), key, "", zeros);
    EXPECT_EQ(hex(box), "000000000000000000000000"
                        "cea7403d4d606b6e074ec5d3baf39d18"
                        "d0d1c8a799996bf0265b98b5d48ab919");
    EXPECT_EQ(openBox(box, key, ""), SecretBytes(Bytes(16, 0)));
}

TEST(SealBox, UsesAFreshNonceAndRefusesKeysOfTheWrongLength) {
    const Bytes key(32, 1);
    const Bytes a = sealBox(toBytes("same"), key, "ad");
    const Bytes b = sealBox(toBytes("same"), key, "ad");
    EXPECT_NE(Bytes(a.begin(), a.begin() + 12), Bytes(b.begin(), b.begin() + 12));
    EXPECT_EQ(a.size(), 4 + kBoxOverhead);
    EXPECT_EQ(vaultErrorOf([&] { (void)sealBox(toBytes("x"), Bytes(31, 1), "ad"); }),
              VaultError::corrupted);
}

TEST(OpenBox, FailsOnAnyChangeToBoxKeyOrAssociatedData) {
    const Bytes key(32, 9);
    const Bytes box = sealBox(toBytes("secret payload"), key, "tlw.payload.v1|A");
    EXPECT_EQ(openBox(box, key, "tlw.payload.v1|A"), SecretBytes(toBytes("secret payload")));

    for (std::size_t index : {std::size_t{0}, std::size_t{11}, std::size_t{12}, box.size() - 17,
                              box.size() - 16, box.size() - 1}) {
        Bytes damaged = box;
        damaged[index] ^= 0x01;
        EXPECT_THROW((void)openBox(damaged, key, "tlw.payload.v1|A"), SealedBoxError) << index;
    }
    EXPECT_THROW((void)openBox(box, key, "tlw.payload.v1|B"), SealedBoxError);
    EXPECT_THROW((void)openBox(box, key, ""), SealedBoxError);
    EXPECT_THROW((void)openBox(box, Bytes(32, 8), "tlw.payload.v1|A"), SealedBoxError);
    EXPECT_THROW((void)openBox(box, Bytes(16, 9), "tlw.payload.v1|A"), SealedBoxError);
    EXPECT_THROW((void)openBox(Bytes(box.begin(), box.end() - 1), key, "tlw.payload.v1|A"),
                 SealedBoxError);
}

TEST(OpenBox, TakesEmptyPlaintextsAndRefusesBoxesShorterThanNonceAndTag) {
    const Bytes key(32, 3);
    const Bytes empty = sealBox({}, key, "ad");
    ASSERT_EQ(empty.size(), 28u);
    EXPECT_TRUE(openBox(empty, key, "ad").empty());
    EXPECT_THROW((void)openBox(Bytes(empty.begin(), empty.end() - 1), key, "ad"), SealedBoxError);
    EXPECT_THROW((void)openBox({}, key, "ad"), SealedBoxError);
}

} // namespace
} // namespace tallowin
