// SPDX-License-Identifier: GPL-3.0-or-later
// Against a real gnome-keyring-daemon in a private D-Bus session.
#include "SecretServiceTest.h"
#include "TempDirectory.h"
#include "core/DeviceKeyStore.h"
#include "core/UnlockSession.h"
#include "core/VaultError.h"
#include "platform/ScriptedBiometrics.h"
#include "platform/SecretServiceKeychain.h"

namespace tallowin {
namespace {

using testsupport::SecretServiceTest;
using testsupport::TempDirectory;

VaultKey testVaultKey(std::uint8_t seed) {
    VaultKey key;
    key.id = "9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C6D";
    key.key = SecretBytes(32);
    for (std::size_t i = 0; i < key.key.size(); ++i) {
        key.key.data()[i] = static_cast<std::uint8_t>(seed * 7 + i);
    }
    return key;
}

class SecretServiceKeychainTest : public SecretServiceTest {
protected:
    void SetUp() override {
        SecretServiceTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        keychain_ = std::make_unique<SecretServiceKeychain>(session().keychainOptions());
        defaults_ = std::make_unique<SharedDefaults>(temp_ / "settings.json");
        ASSERT_FALSE(defaults_->setDate("lastPasswordEntry", clock_.now()));
    }
    void TearDown() override {
        keychain_.reset();
        SecretServiceTest::TearDown();
    }

    std::string lookup(const std::vector<std::string>& attributes) {
        std::vector<std::string> argv{"secret-tool", "lookup"};
        argv.insert(argv.end(), attributes.begin(), attributes.end());
        const auto result = session().run(argv);
        EXPECT_FALSE(result.timedOut);
        return result.output;
    }

    TempDirectory temp_;
    FixedClock clock_{Date{790'000'000}};
    ScriptedBiometrics biometrics_;
    std::unique_ptr<SecretServiceKeychain> keychain_;
    std::unique_ptr<SharedDefaults> defaults_;
};

TEST_F(SecretServiceKeychainTest, DeviceKeySaveLoadReplaceAndDelete) {
    DeviceKeyStore store(*keychain_, biometrics_);
    EXPECT_FALSE(store.exists());
    store.save(testVaultKey(1));
    EXPECT_TRUE(store.exists());
    EXPECT_EQ(store.load("unlock your 2FA codes"), testVaultKey(1));

    store.save(testVaultKey(2));
    EXPECT_EQ(store.load("unlock your 2FA codes"), testVaultKey(2));
    EXPECT_EQ(
        lookup({"service", "com.tallowin.vault-key", "account", "vault-key"}),
        toString(DeviceKeyStore::Stored{testVaultKey(2).id, testVaultKey(2).key}.encode().span()));
    std::string label;
    EXPECT_EQ(keychain_->copyAttributes(store.query(), nullptr, label), KeychainStatus::success);
    EXPECT_EQ(label, "Tallowin vault key");
    EXPECT_EQ(biometrics_.evaluations(), 2);

    store.remove();
    EXPECT_FALSE(store.exists());
    EXPECT_THROW((void)store.load("unlock your 2FA codes"), VaultError);
    EXPECT_EQ(lookup({"service", "com.tallowin.vault-key", "account", "vault-key"}), "");
}

TEST_F(SecretServiceKeychainTest, UnlockSessionSaveLoadReplaceAndClearAsOtherToolsSeeIt) {
    UnlockSession unlock(*keychain_, *defaults_, clock_);
    EXPECT_FALSE(unlock.load());
    unlock.save(testVaultKey(1));
    unlock.save(testVaultKey(2));
    EXPECT_EQ(unlock.load(), testVaultKey(2));

    const std::string printed =
        lookup({"service", "com.tallowin.unlock-session", "account", "session"});
    const auto stored = UnlockSession::Stored::decode(toBytes(printed));
    EXPECT_EQ(stored.keyID, testVaultKey(2).id);
    EXPECT_EQ(stored.key, testVaultKey(2).key);
    EXPECT_EQ(stored.expires, clock_.now().adding(43'200));

    const auto listed =
        session().run({"secret-tool", "search", "--all", "service", "com.tallowin.unlock-session"});
    EXPECT_NE(listed.output.find("label = Tallowin unlock session"), std::string::npos)
        << listed.output << listed.errors;
    EXPECT_EQ(listed.output.find("[/"), listed.output.rfind("[/")) << "exactly one item";

    unlock.clear();
    EXPECT_FALSE(unlock.load());
    EXPECT_EQ(lookup({"service", "com.tallowin.unlock-session", "account", "session"}), "");
}

TEST_F(SecretServiceKeychainTest, ExpiredSessionIsDeletedFromTheKeyring) {
    UnlockSession unlock(*keychain_, *defaults_, clock_);
    unlock.save(testVaultKey(3));
    clock_.advance(43'200);
    EXPECT_FALSE(unlock.load());
    EXPECT_EQ(lookup({"service", "com.tallowin.unlock-session", "account", "session"}), "");
}

TEST_F(SecretServiceKeychainTest, ItemsWrittenByOtherToolsAreFoundByTheirAttributes) {
    const std::string record = toString(
        UnlockSession::Stored{testVaultKey(4).id, testVaultKey(4).key, clock_.now().adding(60)}
            .encode()
            .span());
    const auto stored = session().run({"secret-tool", "store", "--label=by hand", "service",
                                       "com.tallowin.unlock-session", "account", "session"},
                                      record);
    ASSERT_TRUE(stored.succeeded()) << stored.errors;
    UnlockSession unlock(*keychain_, *defaults_, clock_);
    EXPECT_EQ(unlock.load(), testVaultKey(4));
}

TEST_F(SecretServiceKeychainTest, AnAccessGroupIsAnAttributeOfTheItem) {
    UnlockSession grouped(*keychain_, *defaults_, clock_, "TEAM.com.tallowin");
    grouped.save(testVaultKey(5));
    EXPECT_NE(lookup({"service", "com.tallowin.unlock-session", "account", "session", "group",
                      "TEAM.com.tallowin"}),
              "");
    EXPECT_EQ(
        lookup({"service", "com.tallowin.unlock-session", "account", "session", "group", "OTHER"}),
        "");
    EXPECT_EQ(grouped.load(), testVaultKey(5));
    EXPECT_FALSE(UnlockSession(*keychain_, *defaults_, clock_, "OTHER").load());
}

TEST_F(SecretServiceKeychainTest, ARestartedServiceIsPickedUpWithoutAFailedCall) {
    UnlockSession unlock(*keychain_, *defaults_, clock_);
    unlock.save(testVaultKey(8));
    ASSERT_EQ(unlock.load(), testVaultKey(8)); // the connection is open now
    session().restartKeyring();
    EXPECT_EQ(unlock.load(), testVaultKey(8));
    unlock.save(testVaultKey(9));
    EXPECT_EQ(unlock.load(), testVaultKey(9));
}

TEST_F(SecretServiceKeychainTest, ALockedKeyringFailsCleanlyWithoutPrompting) {
    DeviceKeyStore store(*keychain_, biometrics_);
    UnlockSession unlock(*keychain_, *defaults_, clock_);
    store.save(testVaultKey(6));
    unlock.save(testVaultKey(6));
    session().lockKeyring();

    EXPECT_TRUE(store.exists()); // there, but locked
    EXPECT_FALSE(unlock.load());
    SecretBytes data;
    EXPECT_EQ(keychain_->copyData(unlock.query(), nullptr, data),
              KeychainStatus::interactionNotAllowed);
    EXPECT_EQ(keychain_->remove(unlock.query()), KeychainStatus::interactionNotAllowed);
    // Unlocking needs the keyring's own prompt, which this private bus cannot show.
    EXPECT_THROW((void)store.load("unlock your 2FA codes"), VaultError);
    EXPECT_THROW(store.save(testVaultKey(7)), KeychainError);
    unlock.save(testVaultKey(7)); // quietly not written
    EXPECT_EQ(keychain_->copyData(unlock.query(), nullptr, data),
              KeychainStatus::interactionNotAllowed);
}

} // namespace
} // namespace tallowin
