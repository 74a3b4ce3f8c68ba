// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/DeviceKeyStore.h"
#include "core/UnlockSession.h"
#include "core/VaultJSON.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

constexpr const char* kKeyID = "0F6A2C1E-6B55-4D0B-8C11-2B7F4E9A3D21";
// 32 bytes 0x00..0x1f in base64.
constexpr const char* kKeyBase64 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

SecretBytes testKeyBytes() {
    SecretBytes key(32);
    for (std::size_t i = 0; i < key.size(); ++i) {
        key.data()[i] = static_cast<std::uint8_t>(i);
    }
    return key;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(KeychainRecords, EncodeAsPlainJSONObjectsAndReadBack) {
    const DeviceKeyStore::Stored device{kKeyID, testKeyBytes()};
    const SecretBytes deviceText = device.encode();
    EXPECT_EQ(toString(deviceText.span()),
              std::string(R"({"key":")") + kKeyBase64 + R"(","keyID":")" + kKeyID + "\"}");
    EXPECT_EQ(DeviceKeyStore::Stored::decode(deviceText.span()), device);

    const UnlockSession::Stored session{kKeyID, testKeyBytes(), Date{789043200.5}};
    const SecretBytes sessionText = session.encode();
    EXPECT_EQ(toString(sessionText.span()), std::string(R"({"expires":789043200.5,"key":")") +
                                                kKeyBase64 + R"(","keyID":")" + kKeyID + "\"}");
    EXPECT_EQ(UnlockSession::Stored::decode(sessionText.span()), session);
}

TEST(KeychainRecords, ReadersAcceptAnyKeyOrderExtraMembersAndEscapedSlashes) {
    const std::string text = std::string(R"({"keyID":")") + kKeyID + R"(","other":[1],"key":")" +
                             kKeyBase64 + R"(","expires":7})";
    const auto session = UnlockSession::Stored::decode(bytesOf(text));
    EXPECT_EQ(session.expires, Date{7});
    EXPECT_EQ(session.key, testKeyBytes());
    EXPECT_EQ(DeviceKeyStore::Stored::decode(bytesOf(text)).keyID, kKeyID);

    const auto slashed = DeviceKeyStore::Stored::decode(bytesOf(
        R"({"keyID":"a\/b","key":"+\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/8="})"));
    EXPECT_EQ(slashed.keyID, "a/b");
    EXPECT_EQ(slashed.key.size(), 32u);
}

TEST(KeychainRecords, MalformedRecordsFailToDecode) {
    const std::string key = kKeyBase64;
    const std::string id = kKeyID;
    const std::string cases[] = {
        "",
        "not json",
        "[]",
        R"({"key":")" + key + R"("})",                      // no keyID
        R"({"keyID":")" + id + R"("})",                     // no key
        R"({"keyID":7,"key":")" + key + R"("})",            // keyID not a string
        R"({"keyID":")" + id + R"(","key":"not base64!"})", // key not base64
        R"({"keyID":")" + id + R"(","key":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg=="})", // 31
        R"({"keyID":")" + id + R"(","key":[0,1]})", // key not a string
        std::string(70'000, ' '),                   // too large
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text.substr(0, 60));
        EXPECT_THROW((void)DeviceKeyStore::Stored::decode(bytesOf(text)), JSONDecodeError);
        EXPECT_THROW((void)UnlockSession::Stored::decode(bytesOf(text)), JSONDecodeError);
    }
    // A session record needs a numeric "expires" too.
    for (const std::string& expires : {std::string(), std::string(R"(,"expires":"soon")")}) {
        const std::string text = R"({"keyID":")" + id + R"(","key":")" + key + "\"" + expires + "}";
        EXPECT_NO_THROW((void)DeviceKeyStore::Stored::decode(bytesOf(text)));
        EXPECT_THROW((void)UnlockSession::Stored::decode(bytesOf(text)), JSONDecodeError);
    }
}

} // namespace
} // namespace tallowin
