// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Base64.h"
#include "core/Uuid.h"
#include "core/VaultJSON.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

TEST(VaultJSON, SortsKeysCompactlyAndAcceptsEscapedSlashes) {
    const Json value = parseVaultJSON(R"({ "b" : 1, "a" : "x\/y", "c" : [ true ] })");
    EXPECT_EQ(encodeVaultJSON(value), R"({"a":"x/y","b":1,"c":[true]})");
}

TEST(VaultJSON, DatesReadBackBitForBit) {
    for (const double seconds :
         {0.0, -978307200.0, 794937600.123456, 1e-7, 786297600.9999999, -0.5, 4102444800.000001}) {
        const Json object = {{"d", dateToJSON(Date{seconds})}};
        const Json back = parseVaultJSON(encodeVaultJSON(object));
        EXPECT_EQ(requireDate(back, "d").sinceReference, seconds);
    }
    EXPECT_EQ(encodeVaultJSON(dateToJSON(Date::fromUnix(0))), "-978307200");
}

TEST(VaultJSON, RejectsNonJSON) {
    EXPECT_THROW((void)parseVaultJSON(""), JSONDecodeError);
    EXPECT_THROW((void)parseVaultJSON("{\"a\":"), JSONDecodeError);
}

TEST(VaultJSON, InvalidUtf8IsReplacedWhenEncoding) {
    EXPECT_NO_THROW((void)encodeVaultJSON(Json(std::string("a\xFF"))));
}

TEST(Base64, RoundTripsAndIsStrict) {
    for (const std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar"}) {
        const auto encoded = base64Encode(toBytes(text));
        EXPECT_EQ(base64Decode(encoded), toBytes(text)) << encoded;
    }
    EXPECT_EQ(base64Encode(toBytes("foobar")), "Zm9vYmFy");
    EXPECT_EQ(base64Encode(toBytes("fo")), "Zm8=");
    for (const char* bad : {"Zm8", "Zm8==", "Z===", "Zm9v\nYmFy", "Zm9=YmFy", "Zm9vYmF*", "Zm9="}) {
        EXPECT_FALSE(base64Decode(bad)) << bad;
    }
    EXPECT_FALSE(base64Decode("Zh==")); // non-zero unused bits
}

TEST(Uuid, ParsesEitherCaseAndWritesUpperCase) {
    const auto uuid = Uuid::parse("7c8a2b4e-1f3d-4e5a-9b6c-0d1e2f3a4b5c");
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->toString(), "7C8A2B4E-1F3D-4E5A-9B6C-0D1E2F3A4B5C");
    for (const char* bad :
         {"", "7c8a2b4e1f3d4e5a9b6c0d1e2f3a4b5c", "7c8a2b4e-1f3d-4e5a-9b6c-0d1e2f3a4b5",
          "7c8a2b4e-1f3d-4e5a-9b6c-0d1e2f3a4b5g", "7c8a2b4e-1f3d4-e5a-9b6c-0d1e2f3a4b5c",
          "{c8a2b4e-1f3d-4e5a-9b6c-0d1e2f3a4b5c"}) {
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    }
    EXPECT_NE(Uuid::random(), Uuid::random());
}

} // namespace
} // namespace tallowin
