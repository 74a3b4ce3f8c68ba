// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Account.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

constexpr const char* kId = "7C8A2B4E-1F3D-4E5A-9B6C-0D1E2F3A4B5C";

Account decode(const std::string& text) {
    return accountFromJSON(parseVaultJSON(text));
}

TEST(AccountJSON, MinimalObjectTakesEveryDefaultAndReencodesWithAllKeys) {
    const Account account =
        decode(R"({"id":"7c8a2b4e-1f3d-4e5a-9b6c-0d1e2f3a4b5c","secret":"JBSWY3DP"})");
    EXPECT_EQ(account.id.toString(), kId);
    EXPECT_EQ(account.issuer, "");
    EXPECT_EQ(account.label, "");
    EXPECT_EQ(account.algorithm, OTPAlgorithm::sha1);
    EXPECT_EQ(account.digits, 6);
    EXPECT_EQ(account.period, 30);
    EXPECT_FALSE(account.color);
    EXPECT_TRUE(account.websites.empty());
    EXPECT_EQ(account.createdAt, Date::fromUnix(0));
    EXPECT_EQ(account.updatedAt, Date::fromUnix(0));
    EXPECT_FALSE(isDeleted(account));
    EXPECT_EQ(encodeVaultJSON(accountToJSON(account)),
              std::string(R"({"algorithm":"SHA1","createdAt":-978307200,"digits":6,"id":")") + kId +
                  R"(","issuer":"","label":"","period":30,"secret":"JBSWY3DP",)"
                  R"("updatedAt":-978307200,"updatedBy":"","websites":[]})");
}

TEST(AccountJSON, FullRecordRoundTripsByteForByte) {
    const std::string text =
        std::string(R"({"algorithm":"SHA512","color":3,"createdAt":794937600.123456,)"
                    R"("deletedAt":796000000.5,"digits":8,"id":")") +
        kId +
        R"(","issuer":"Ex\"ample","label":"ana@example.org","period":60,"secret":"JBSWY3DPEHPK3PXP",)"
        R"("updatedAt":795000000.25,"updatedBy":"DEV-1","websites":["example.org","sso.example.org"]})";
    EXPECT_EQ(encodeVaultJSON(accountToJSON(decode(text))), text);
}

TEST(AccountJSON, UpdatedAtDefaultsToDecodedCreatedAtAndNullMeansAbsent) {
    const Account account =
        decode(std::string(R"({"id":")") + kId +
               R"(","secret":"A","createdAt":12.5,"color":null,"deletedAt":null,)"
               R"("issuer":null,"extra":{"x":1}})");
    EXPECT_EQ(account.updatedAt, Date{12.5});
    EXPECT_FALSE(account.color);
    EXPECT_FALSE(account.deletedAt);
    EXPECT_EQ(account.issuer, "");
}

TEST(AccountJSON, DecodeFailures) {
    const std::string id = std::string(R"("id":")") + kId + "\"";
    for (const std::string& body : std::vector<std::string>{
             R"("secret":"A")",                                // no id
             id,                                               // no secret
             R"("id":"not-a-uuid","secret":"A")",              // bad uuid
             id + R"(,"secret":"A","algorithm":"sha1")",       // lower-case algorithm
             id + R"(,"secret":"A","digits":"6")",             // wrong type
             id + R"(,"secret":"A","digits":6.5)",             // not an integer
             id + R"(,"secret":"A","websites":"a.com")",       // not an array
             id + R"(,"secret":"A","websites":[1])",           // not strings
             id + R"(,"secret":"A","createdAt":"2020-01-01")", // date as text
             id + R"(,"secret":7)",                            // secret as number
         }) {
        EXPECT_THROW(decode("{" + body + "}"), JSONDecodeError) << body;
    }
    EXPECT_THROW(decode("[]"), JSONDecodeError);
}

TEST(AccountEquality, ComparesEveryField) {
    Account a = decode(std::string(R"({"id":")") + kId + R"(","secret":"A"})");
    Account b = a;
    EXPECT_EQ(a, b);
    b.updatedBy = "other";
    EXPECT_NE(a, b);
}

class FixedRandom final : public RandomSource {
public:
    void fill(std::span<std::uint8_t> out) override {
        for (auto& byte : out) {
            byte = next++;
        }
    }
    std::uint8_t next = 0;
};

TEST(MakeAccount, TrimsNamesNormalisesValidSecretsAndStamps) {
    FixedRandom random;
    AccountDraft draft{
        " \tGit Hub \t", "  me@example.org\n", "jbsw y3dp-ehpk 3pxp", OTPAlgorithm::sha256, 4, 0};
    const Account account = makeAccount(draft, "DEVICE", Date{100}, random);
    EXPECT_EQ(account.id.toString(), "00010203-0405-4607-8809-0A0B0C0D0E0F");
    EXPECT_EQ(account.issuer, "Git Hub");
    EXPECT_EQ(account.label, "me@example.org\n");
    EXPECT_EQ(account.secret, "JBSWY3DPEHPK3PXP");
    EXPECT_EQ(account.algorithm, OTPAlgorithm::sha256);
    EXPECT_EQ(account.digits, 4); // no clamping here
    EXPECT_EQ(account.period, 0);
    EXPECT_EQ(account.createdAt, Date{100});
    EXPECT_EQ(account.updatedAt, Date{100});
    EXPECT_EQ(account.updatedBy, "DEVICE");
    EXPECT_FALSE(account.color);
    EXPECT_FALSE(account.deletedAt);

    draft.secret = "not base32!";
    EXPECT_EQ(makeAccount(draft, "D", Date{}).secret, "not base32!");
}

TEST(DisplayTitle, FallsBackFromIssuerToLabelToUntitled) {
    Account account;
    EXPECT_EQ(displayTitle(account), "Untitled");
    account.label = "me";
    EXPECT_EQ(displayTitle(account), "me");
    account.issuer = "Site";
    EXPECT_EQ(displayTitle(account), "Site");
}

} // namespace
} // namespace tallowin
