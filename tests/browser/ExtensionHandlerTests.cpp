// SPDX-License-Identifier: GPL-3.0-or-later
#include "TemporaryFolder.h"
#include "browser/ExtensionHandler.h"
#include "browser/LearnedSites.h"
#include "browser/SafariWebExtensionHandler.h"
#include "core/Base32.h"
#include "core/CardPalette.h"
#include "core/DeviceKeyStore.h"
#include "core/FileIO.h"
#include "core/SharedDefaults.h"
#include "core/Totp.h"
#include "core/UnlockSession.h"
#include "core/VaultEnvelope.h"
#include "platform/InMemoryKeychain.h"
#include "platform/ScriptedBiometrics.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

// 2026-03-05T14:15:03Z
const Date kNow = Date::fromUnix(1772720103);

Account account(std::string issuer, std::string label, std::string secret,
                std::int64_t period = 30) {
    AccountDraft draft{
        std::move(issuer), std::move(label), std::move(secret), OTPAlgorithm::sha1, 6, period};
    return makeAccount(draft, "DEVICE", kNow);
}

class ExtensionHandlerTest : public TemporaryFolderTest {
protected:
    void SetUp() override {
        TemporaryFolderTest::SetUp();
        defaults_ = std::make_unique<SharedDefaults>(dir_ / "settings.json");
        ASSERT_FALSE(defaults_->setDate("lastPasswordEntry", kNow.adding(-3600)));
        environment_ = {dir_, defaults_.get(), &keychain_, &biometrics_, &clock_};
    }

    void writeVault(const std::vector<Account>& accounts, const VaultKey& key) {
        VaultEnvelope envelope =
            makeEnvelopeHeader(kVaultFormat, "password", key, "host", kNow, systemRandom(), 1);
        envelope.payload = sealContents(accounts, key);
        ASSERT_FALSE(writeFileAtomically(dir_ / "vault.tlwvault", encodeEnvelope(envelope)));
    }

    void startSession(const VaultKey& key) {
        UnlockSession(keychain_, *defaults_, clock_).save(key);
    }
    [[nodiscard]] bool sessionExists() {
        std::string label;
        return keychain_.copyAttributes(UnlockSession(keychain_, *defaults_, clock_).query(),
                                        nullptr, label) == KeychainStatus::success;
    }

    Json request(Json message) { return handleExtensionMessage(message, environment_); }

    std::unique_ptr<SharedDefaults> defaults_;
    InMemoryKeychain keychain_;
    ScriptedBiometrics biometrics_;
    FixedClock clock_{kNow};
    ExtensionEnvironment environment_;
    VaultKey key_ = newVaultKey();
};

TEST_F(ExtensionHandlerTest, UnknownRequests) {
    const Json unknown = errorReply("unknown", "Unknown request.");
    EXPECT_EQ(unknown,
              (Json{{"ok", false}, {"error", "unknown"}, {"message", "Unknown request."}}));
    for (const Json& message :
         {Json::object(), Json{{"type", 7}}, Json{{"type", "Accounts"}}, Json::array()}) {
        EXPECT_EQ(request(message), unknown) << message;
    }
}

TEST_F(ExtensionHandlerTest, RememberAlwaysRepliesOkAndWritesOnlyWithHostAndId) {
    const Account github = account("GitHub", "me", "JBSWY3DPEHPK3PXP");
    EXPECT_EQ(request({{"type", "remember"}, {"host", "github.com"}}), (Json{{"ok", true}}));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "learned-sites.json"));
    EXPECT_EQ(request({{"type", "remember"},
                       {"host", "https://www.GitHub.com/login"},
                       {"id", github.id.toString()}}),
              (Json{{"ok", true}}));
    EXPECT_EQ(loadLearnedSites(dir_), (LearnedSites{{"github.com", {github.id.toString()}}}));
}

TEST_F(ExtensionHandlerTest, AccountsReplyCarriesNineMembersPerLiveAccountInDisplayOrder) {
    Account zulu = account("zulu", "z@example.org", "JBSWY3DPEHPK3PXP");
    Account alpha = account("", "Alpha label", "GEZDGNBVGY3TQOJQ", 0);
    Account deleted = account("Deleted", "", "JBSWY3DPEHPK3PXP");
    deleted.deletedAt = kNow;
    Account broken = account("Broken", "", "not base32!");
    Account github = account("GitHub", "me", "MFRGGZDFMZTWQ2LK");
    writeVault({zulu, alpha, deleted, broken, github}, key_);
    startSession(key_);

    const Json reply =
        request({{"type", "accounts"}, {"host", "https://www.github.com/sessions/two-factor"}});
    ASSERT_EQ(reply["ok"], true) << reply;
    EXPECT_EQ(reply["host"], "github.com");
    const Json& entries = reply["accounts"];
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]["issuer"], "Alpha label"); // label moved up when there is no issuer
    EXPECT_EQ(entries[0]["label"], "");
    EXPECT_EQ(entries[1]["issuer"], "GitHub");
    EXPECT_EQ(entries[2]["issuer"], "zulu");

    const Json& gh = entries[1];
    EXPECT_EQ(gh.size(), 9u);
    EXPECT_EQ(gh["id"], github.id.toString());
    EXPECT_EQ(gh["label"], "me");
    EXPECT_EQ(gh["score"], 85); // catalogue entry for the issuer
    EXPECT_EQ(entries[2]["score"], 0);
    const std::int64_t t = 1772720103;
    EXPECT_EQ(gh["period"], 30);
    EXPECT_EQ(gh["start"], t / 30 * 30);
    const auto secret = *base32Decode(github.secret);
    ASSERT_EQ(gh["codes"].size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(gh["codes"][i],
                  totpCode(secret, static_cast<std::uint64_t>(t / 30 + i), OTPAlgorithm::sha1, 6));
    }
    const auto colours = hexColours(github);
    EXPECT_EQ(gh["colors"], Json::array({colours[0], colours[1]}));
    EXPECT_EQ(gh["icon"], "");

    // A stored period of 0 is sent as 1: counters t, t+1, ... t+19.
    const Json& a = entries[0];
    EXPECT_EQ(a["period"], 1);
    EXPECT_EQ(a["start"], t);
    EXPECT_EQ(a["codes"][19], totpCode(*base32Decode(alpha.secret),
                                       static_cast<std::uint64_t>(t + 19), OTPAlgorithm::sha1, 6));
}

TEST_F(ExtensionHandlerTest, WithoutHostEveryScoreIsZeroAndTheHostEmpty) {
    writeVault({account("GitHub", "me", "JBSWY3DPEHPK3PXP")}, key_);
    startSession(key_);
    const Json reply = request({{"type", "accounts"}, {"host", 42}});
    EXPECT_EQ(reply["host"], "");
    EXPECT_EQ(reply["accounts"][0]["score"], 0);
}

TEST_F(ExtensionHandlerTest, IconsComeFromTheCacheUnlessTurnedOff) {
    writeVault({account("GitHub", "me", "JBSWY3DPEHPK3PXP")}, key_);
    startSession(key_);
    std::filesystem::create_directories(dir_ / "Icons");
    ASSERT_FALSE(writeFileAtomically(dir_ / "Icons" / "github.com.png", toBytes("PNG"), 0644));
    EXPECT_EQ(request({{"type", "accounts"}})["accounts"][0]["icon"], "data:image/png;base64,UE5H");
    ASSERT_FALSE(defaults_->setBoolean("showServiceIcons", false));
    EXPECT_EQ(request({{"type", "accounts"}})["accounts"][0]["icon"], "");
}

TEST_F(ExtensionHandlerTest, MissingOrDamagedVaultIsNoVault) {
    const Json noVault = errorReply("noVault", "Open Tallowin to set up your vault.");
    EXPECT_EQ(request({{"type", "accounts"}}), noVault);
    ASSERT_FALSE(writeFileAtomically(dir_ / "vault.tlwvault", toBytes("{\"version\":2}")));
    EXPECT_EQ(request({{"type", "accounts"}}), noVault);
}

TEST_F(ExtensionHandlerTest, KeyRules) {
    const Json locked =
        errorReply("locked", "Open Tallowin and unlock it with your master password.");
    const Json cancelled = errorReply("cancelled", "Authentication was cancelled.");
    writeVault({account("GitHub", "me", "JBSWY3DPEHPK3PXP")}, key_);

    // A session for another vault and no device key: locked.
    startSession(newVaultKey());
    EXPECT_EQ(request({{"type", "accounts"}}), locked);

    // A device key: the biometric check names the host; success writes a fresh session.
    DeviceKeyStore(keychain_, biometrics_).save(key_);
    keychain_.remove(UnlockSession(keychain_, *defaults_, clock_).query());
    EXPECT_EQ(request({{"type", "accounts"}, {"host", "www.github.com"}})["ok"], true);
    EXPECT_EQ(biometrics_.lastReason(), "fill a 2FA code on github.com");
    EXPECT_TRUE(sessionExists());

    // A cancelled check: "cancelled", and no session is written.
    keychain_.remove(UnlockSession(keychain_, *defaults_, clock_).query());
    biometrics_.queueResult(BiometricResult::cancelled);
    EXPECT_EQ(request({{"type", "accounts"}}), cancelled);
    EXPECT_EQ(biometrics_.lastReason(), "fill a 2FA code");
    EXPECT_FALSE(sessionExists());

    // Password not typed for more than 14 days: locked without a prompt.
    ASSERT_FALSE(defaults_->setDate("lastPasswordEntry", kNow.adding(-1'209'601)));
    const int prompts = biometrics_.evaluations();
    EXPECT_EQ(request({{"type", "accounts"}}), locked);
    EXPECT_EQ(biometrics_.evaluations(), prompts);
}

TEST_F(ExtensionHandlerTest, PayloadThatDoesNotOpenWithTheSessionKeyIsLocked) {
    VaultKey impostor = newVaultKey();
    impostor.id = key_.id; // same id, other bytes: the payload fails to open
    writeVault({account("GitHub", "me", "JBSWY3DPEHPK3PXP")}, key_);
    startSession(impostor);
    EXPECT_EQ(request({{"type", "accounts"}})["error"], "locked");
}

TEST_F(ExtensionHandlerTest, SafariHandlerGivesTheSameRepliesAndCompletesOnce) {
    writeVault({account("GitHub", "me", "JBSWY3DPEHPK3PXP")}, key_);
    startSession(key_);
    const SafariWebExtensionHandler handler(environment_);
    const Json message = {{"type", "accounts"}, {"host", "github.com"}};

    const auto replyFor = [&](std::vector<NSExtensionInputItem> items) {
        NSExtensionContext context(std::move(items));
        handler.beginRequest(context);
        EXPECT_EQ(context.completions(), 1);
        EXPECT_EQ(context.returnedItems().size(), 1u);
        const auto& userInfo = context.returnedItems().at(0).userInfo;
        EXPECT_TRUE(userInfo && userInfo->size() == 1u);
        return userInfo->at("message");
    };
    EXPECT_EQ(replyFor({NSExtensionItem{Json{{"message", message}}}, OtherInputItem{}}),
              request(message));

    const Json unknown = errorReply("unknown", "Unknown request.");
    EXPECT_EQ(replyFor({}), unknown);
    EXPECT_EQ(replyFor({OtherInputItem{}, NSExtensionItem{Json{{"message", message}}}}), unknown);
    EXPECT_EQ(replyFor({NSExtensionItem{}}), unknown);
    EXPECT_EQ(replyFor({NSExtensionItem{Json{{"other", message}}}}), unknown);
    EXPECT_EQ(replyFor({NSExtensionItem{Json{{"message", Json::array({message})}}}}), unknown);
}

} // namespace
} // namespace tallowin
