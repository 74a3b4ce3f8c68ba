// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceSecurityFixture.h"
#include "core/VaultError.h"

namespace tallowin {
namespace {

using testsupport::DeviceSecurityTest;
using testsupport::testVaultKey;

using DeviceKeyStoreTest = DeviceSecurityTest;

TEST_F(DeviceKeyStoreTest, SavedKeyIsReleasedByTheBiometricCheck) {
    deviceKeys_.save(testVaultKey(1));
    deviceKeys_.save(testVaultKey(2)); // replaces

    const auto items = keychain_.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].attributes,
              (std::map<std::string, std::string>{{"service", "com.tallowin.vault-key"},
                                                  {"account", "vault-key"}}));
    EXPECT_EQ(items[0].created.label, "Tallowin vault key");
    EXPECT_EQ(items[0].created.protection, KeychainProtection::biometryCurrentSetOrWatch);

    EXPECT_EQ(deviceKeys_.load("unlock your 2FA codes"), testVaultKey(2));
    EXPECT_EQ(biometrics_.evaluations(), 1);
    EXPECT_EQ(biometrics_.lastReason(), "unlock your 2FA codes");

    deviceKeys_.remove();
    EXPECT_FALSE(deviceKeys_.exists());
    EXPECT_TRUE(keychain_.items().empty());
}

TEST_F(DeviceKeyStoreTest, ExistsNeverAsksTheUserEvenWhenTheKeychainIsLocked) {
    EXPECT_FALSE(deviceKeys_.exists());
    deviceKeys_.save(testVaultKey());
    EXPECT_TRUE(deviceKeys_.exists());
    keychain_.setLocked(true);
    EXPECT_TRUE(deviceKeys_.exists());
    EXPECT_EQ(biometrics_.evaluations(), 0);
    EXPECT_EQ(keychain_.interactiveReads(), 0);
}

TEST_F(DeviceKeyStoreTest, EveryLoadFailureIsKeyUnavailable) {
    struct Case {
        const char* name;
        std::function<void(DeviceKeyStoreTest&)> arrange;
        int expectedChecks;
    };
    const Case cases[] = {
        {"no item", [](DeviceKeyStoreTest&) {}, 0},
        {"check cancelled",
         [](DeviceKeyStoreTest& t) {
             t.deviceKeys_.save(testVaultKey());
             t.biometrics_.queueResult(BiometricResult::cancelled);
         },
         1},
        {"check failed",
         [](DeviceKeyStoreTest& t) {
             t.deviceKeys_.save(testVaultKey());
             t.biometrics_.queueResult(BiometricResult::failed);
         },
         1},
        {"biometrics gone since",
         [](DeviceKeyStoreTest& t) {
             t.deviceKeys_.save(testVaultKey());
             t.biometrics_.setCanEvaluate(false);
         },
         0},
        {"undecodable record",
         [](DeviceKeyStoreTest& t) {
             t.keychain_.putRaw(t.deviceKeys_.query(), R"({"keyID":"X"})");
         },
         1},
        {"keychain locked",
         [](DeviceKeyStoreTest& t) {
             t.deviceKeys_.save(testVaultKey());
             t.keychain_.setLocked(true);
         },
         1},
        {"no keychain service",
         [](DeviceKeyStoreTest& t) {
             t.deviceKeys_.save(testVaultKey());
             t.keychain_.setAvailable(false);
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        keychain_.setAvailable(true);
        keychain_.setLocked(false);
        deviceKeys_.remove();
        biometrics_ = ScriptedBiometrics();
        c.arrange(*this);
        try {
            (void)deviceKeys_.load("unlock your 2FA codes");
            ADD_FAILURE() << "load succeeded";
        } catch (const VaultError& error) {
            EXPECT_EQ(error.code(), VaultError::keyUnavailable);
            EXPECT_STREQ(error.what(), "The vault key isn't available on this device. Unlock "
                                       "with your master password.");
        }
        EXPECT_EQ(biometrics_.evaluations(), c.expectedChecks);
    }
}

TEST_F(DeviceKeyStoreTest, SaveFailsWithTheKeychainStatusAndWritesNothingWithoutBiometrics) {
    deviceKeys_.save(testVaultKey());
    biometrics_.setCanEvaluate(false);
    try {
        deviceKeys_.save(testVaultKey(2));
        ADD_FAILURE() << "save succeeded";
    } catch (const KeychainError& error) {
        EXPECT_EQ(error.status(), KeychainStatus::protectionUnavailable);
    }
    EXPECT_TRUE(keychain_.items().empty()); // the old item went first

    biometrics_.setCanEvaluate(true);
    keychain_.setLocked(true);
    try {
        deviceKeys_.save(testVaultKey(2));
        ADD_FAILURE() << "save succeeded";
    } catch (const KeychainError& error) {
        EXPECT_EQ(error.status(), KeychainStatus::interactionNotAllowed);
    }
}

TEST_F(DeviceKeyStoreTest, AnAccessGroupSeparatesItems) {
    DeviceKeyStore grouped(keychain_, biometrics_, "TEAM.com.tallowin.shared");
    grouped.save(testVaultKey(7));
    EXPECT_EQ(keychain_.items().at(0).attributes.at("group"), "TEAM.com.tallowin.shared");
    EXPECT_EQ(grouped.load("r"), testVaultKey(7));
    EXPECT_FALSE(DeviceKeyStore(keychain_, biometrics_, "OTHER").exists());
}

} // namespace
} // namespace tallowin
