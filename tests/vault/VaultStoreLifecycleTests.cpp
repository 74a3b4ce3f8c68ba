// SPDX-License-Identifier: GPL-3.0-or-later
#include "StoreFixture.h"
#include "TempFolder.h"
#include "core/DeviceKeyStore.h"
#include "core/SharedConfiguration.h"
#include "core/UnlockSession.h"
#include "core/VaultError.h"

#include <gtest/gtest.h>

namespace tallowin {

void PrintTo(const Phase& phase, std::ostream* os) {
    static const char* const names[] = {"setup", "loading", "waitingForICloud", "locked",
                                        "unlocked"};
    *os << names[phase.kind];
    if (phase.kind == Phase::setup) {
        *os << "(existingInICloud: " << (phase.existingInICloud ? "true" : "false") << ")";
    }
}

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Device;
using test::kPassword;
using test::processEventsUntil;
using test::run;

const Phase kLocked{Phase::locked};
const Phase kUnlocked{Phase::unlocked};
const Phase kWaiting{Phase::waitingForICloud};
const std::string kWrongPassword = "Incorrect password. Please try again.";
const std::string kKeyUnavailable =
    "The vault key isn't available on this device. Unlock with your master password.";
const std::string kVaultExists =
    "A Tallowin vault already exists in your iCloud Drive. Enter its master password to use it.";

class VaultStoreLifecycleTest : public testing::Test {
protected:
    test::TempFolder root_;
    fs::path sync_ = root_.path() / "Sync";
    void SetUp() override { fs::create_directories(sync_); }

    /// A vault in the sync folder made by another computer, with its own key.
    void otherComputerCreatesVault(const char* password = kPassword) {
        Device other(root_.path() / "other", sync_, "Other");
        other.createVault(password);
        other.closeStore();
    }
};

TEST_F(VaultStoreLifecycleTest, StartWithoutLocalCopyChoosesSetupFromTheCloudDrive) {
    struct Case {
        const char* name;
        bool cloudOn;
        bool cloudVault;
        Phase expected;
    };
    const Case cases[] = {
        {"no cloud vault", true, false, Phase::makeSetup(false)},
        {"cloud vault", true, true, Phase::makeSetup(true)},
        {"cloud drive off", false, false, Phase::makeSetup(false)},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = root_.path() / ("sync" + std::to_string(index));
        fs::create_directories(folder);
        if (c.cloudVault) {
            Device other(root_.path() / ("other" + std::to_string(index)), folder, "Other");
            other.createVault();
        }
        Device device(root_.path() / ("device" + std::to_string(index++)),
                      c.cloudOn ? std::optional(folder) : std::nullopt, "Laptop");
        VaultStore& store = device.openStore();
        EXPECT_EQ(store.phase(), Phase{Phase::loading});
        run(store.start());
        EXPECT_EQ(store.phase(), c.expected);
        EXPECT_EQ(store.usesCloud(), c.cloudOn);
        EXPECT_FALSE(store.isWaitingForCloud());
        EXPECT_FALSE(store.errorMessage());
    }
}

TEST_F(VaultStoreLifecycleTest, LateCloudAnswerMovesFromWaitingToSetup) {
    for (const bool vaultInCloud : {false, true}) {
        SCOPED_TRACE(vaultInCloud ? "vault in the cloud" : "empty cloud");
        const fs::path folder = root_.path() / (vaultInCloud ? "full" : "empty");
        fs::create_directories(folder);
        if (vaultInCloud) {
            Device other(root_.path() / "other", folder, "Other");
            other.createVault();
        }
        Device device(root_.path() / (vaultInCloud ? "a" : "b"), folder, "Laptop",
                      /*answersAtOnce=*/false);
        VaultStoreEnvironment environment = device.environment();
        environment.startupContainerWait = 0ms; // the wait is over before the drive answers
        VaultStore& store = device.openStore(environment);
        run(store.start());
        EXPECT_EQ(store.phase(), kWaiting);
        EXPECT_TRUE(store.isWaitingForCloud());

        int storeChanges = 0;
        QObject::connect(&store, &VaultStore::storeChanged, [&] { ++storeChanges; });
        device.answerCloud();
        EXPECT_TRUE(processEventsUntil([&] { return store.phase().kind == Phase::setup; }));
        EXPECT_EQ(store.phase(), Phase::makeSetup(vaultInCloud));
        EXPECT_GE(storeChanges, 1);
        EXPECT_FALSE(store.isWaitingForCloud());
        EXPECT_TRUE(store.usesCloud());
    }
}

TEST_F(VaultStoreLifecycleTest, ThisDeviceOnlyThenALateAnswerFindingAVaultTurnsIntoWelcomeBack) {
    otherComputerCreatesVault();
    Device device(root_.path() / "laptop", sync_, "Laptop", /*answersAtOnce=*/false);
    VaultStoreEnvironment environment = device.environment();
    environment.startupContainerWait = 0ms;
    VaultStore& store = device.openStore(environment);
    run(store.start());
    ASSERT_EQ(store.phase(), kWaiting);

    store.continueOnThisDevice();
    EXPECT_EQ(store.phase(), Phase::makeSetup(false));
    store.continueOnThisDevice(); // only from the waiting screen
    EXPECT_EQ(store.phase(), Phase::makeSetup(false));

    device.answerCloud();
    EXPECT_TRUE(processEventsUntil([&] { return store.phase() == Phase::makeSetup(true); }));
}

TEST_F(VaultStoreLifecycleTest, DriveThatNeverAnswersLeavesTheChoiceToTheUser) {
    Device device(root_.path() / "laptop", sync_, "Laptop", /*answersAtOnce=*/false);
    VaultStoreEnvironment environment = device.environment();
    environment.startupContainerWait = 0ms;
    environment.createContainerWait = 0ms;
    VaultStore& store = device.openStore(environment);
    run(store.start());
    ASSERT_EQ(store.phase(), kWaiting);
    store.continueOnThisDevice();

    // The vault is created on this device only; the drive is still looking.
    run(store.createVault(kPassword));
    EXPECT_EQ(store.phase(), kUnlocked);
    EXPECT_EQ(store.syncStatus(), test::statusOf(SyncStatus::localOnly));
    EXPECT_TRUE(fs::exists(device.localVault()));
    EXPECT_TRUE(store.isWaitingForCloud());
    EXPECT_FALSE(fs::exists(test::cloudVaultIn(sync_)));
}

TEST_F(VaultStoreLifecycleTest, CreatingOverAnExistingVaultWritesNothing) {
    otherComputerCreatesVault();
    const Bytes before = test::readBytes(test::cloudVaultIn(sync_));
    const std::size_t historyBefore = test::fileCount(test::historyIn(sync_));

    Device device(root_.path() / "laptop", sync_, "Laptop");
    VaultStore& store = device.openStore();
    run(store.start());
    ASSERT_EQ(store.phase(), Phase::makeSetup(true));
    run(store.createVault("another password"));

    EXPECT_EQ(store.phase(), Phase::makeSetup(true));
    EXPECT_EQ(store.errorMessage(), kVaultExists);
    EXPECT_FALSE(store.hasKey());
    EXPECT_FALSE(fs::exists(device.localVault()));
    EXPECT_EQ(test::readBytes(test::cloudVaultIn(sync_)), before);
    EXPECT_EQ(test::fileCount(test::historyIn(sync_)), historyBefore);
    EXPECT_TRUE(device.keychain().items().empty());

    // The welcome-back form: the vault's own password opens it.
    EXPECT_FALSE(run(store.unlock("another password")));
    EXPECT_EQ(store.errorMessage(), kWrongPassword);
    EXPECT_EQ(store.phase(), Phase::makeSetup(true));
    EXPECT_TRUE(run(store.unlock(kPassword)));
    EXPECT_EQ(store.phase(), kUnlocked);
    device.settle();
    EXPECT_TRUE(fs::exists(device.localVault()));
}

TEST_F(VaultStoreLifecycleTest, CreatedVaultIsWrittenAndRecordedForQuietUnlocks) {
    Device device(root_.path() / "laptop", sync_, "Laptop");
    device.biometrics().setCanEvaluate(true);
    device.biometrics().setBiometryType(BiometryType::touchID);
    VaultStore& store = device.createVault();

    EXPECT_EQ(store.syncStatus(), test::statusOf(SyncStatus::idle));
    EXPECT_EQ(store.lastSynced(), test::kStart);
    const VaultKey key = test::keyOf(device.localVault());
    EXPECT_TRUE(test::accountsIn(device.localVault(), key).empty());
    EXPECT_TRUE(test::accountsIn(test::cloudVaultIn(sync_), key).empty());
    EXPECT_EQ(test::fileCount(test::historyIn(sync_)), 1u);
    const VaultEnvelope local = decodeEnvelope(test::readBytes(device.localVault()));
    EXPECT_EQ(local.savedBy, "Laptop");
    EXPECT_EQ(local.kdf.iterations, test::kTestIterations);
    EXPECT_EQ(device.defaults().date(kLastPasswordEntryKey), test::kStart);
    DeviceKeyStore deviceKeys(device.keychain(), device.biometrics());
    EXPECT_TRUE(deviceKeys.exists());
    UnlockSession session(device.keychain(), device.defaults(), device.clock());
    EXPECT_EQ(session.load(), key);
}

TEST_F(VaultStoreLifecycleTest, StartWithLocalCopyUnlocksQuietlyFromTheSessionOrBiometrics) {
    Device device(root_.path() / "laptop", sync_, "Laptop");
    device.biometrics().setCanEvaluate(true);
    device.createVault().addDrafts({test::draft("GitHub", "me", "JBSWY3DPEHPK3PXP")});
    device.settle();

    // A session from the last unlock: no prompt.
    VaultStore& fromSession = device.openStore();
    run(fromSession.start());
    EXPECT_EQ(fromSession.phase(), kUnlocked);
    EXPECT_EQ(fromSession.accounts().size(), 1u);
    EXPECT_EQ(device.biometrics().evaluations(), 0);

    // lock(endSession: false) keeps the session, so coming back unlocks quietly.
    fromSession.lock(false);
    EXPECT_EQ(fromSession.phase(), kLocked);
    EXPECT_TRUE(fromSession.accounts().empty());
    EXPECT_TRUE(fromSession.all().empty());
    EXPECT_FALSE(fromSession.hasKey());
    EXPECT_TRUE(fromSession.header());
    EXPECT_TRUE(run(fromSession.unlockFromSession()));
    EXPECT_EQ(fromSession.accounts().size(), 1u);
    EXPECT_FALSE(run(fromSession.unlockFromSession())); // only from `locked`

    // lock(endSession: true) removes it: the next start asks for the fingerprint.
    fromSession.lock(true);
    EXPECT_FALSE(run(fromSession.unlockFromSession()));
    VaultStore& fromBiometrics = device.openStore();
    run(fromBiometrics.start());
    EXPECT_EQ(fromBiometrics.phase(), kUnlocked);
    EXPECT_EQ(device.biometrics().evaluations(), 1);
    EXPECT_EQ(device.biometrics().lastReason(), "unlock your 2FA codes");
    EXPECT_EQ(fromBiometrics.accounts().size(), 1u);
    EXPECT_FALSE(fromBiometrics.errorMessage());

    // Without biometrics or session the start stops at the lock screen.
    fromBiometrics.lock(true);
    device.biometrics().setCanEvaluate(false);
    VaultStore& locked = device.openStore();
    run(locked.start());
    EXPECT_EQ(locked.phase(), kLocked);
    EXPECT_FALSE(locked.errorMessage());
}

TEST_F(VaultStoreLifecycleTest, BiometricFailuresShowAMessageOnlyWhenTheDeviceKeyIsGone) {
    Device device(root_.path() / "laptop", sync_, "Laptop");
    device.biometrics().setCanEvaluate(true);
    device.createVault().lock(true);
    DeviceKeyStore deviceKeys(device.keychain(), device.biometrics());

    // A cancelled prompt: nothing shown, the device key stays.
    device.biometrics().queueResult(BiometricResult::cancelled);
    VaultStore& store = device.openStore();
    run(store.start());
    EXPECT_EQ(store.phase(), kLocked);
    EXPECT_FALSE(store.errorMessage());
    EXPECT_TRUE(deviceKeys.exists());

    // The vault was re-created elsewhere with another key: the device key opens nothing.
    fs::remove(test::cloudVaultIn(sync_));
    otherComputerCreatesVault("new password");
    run(store.unlockWithBiometrics());
    EXPECT_EQ(store.phase(), kLocked);
    EXPECT_EQ(store.errorMessage(), kKeyUnavailable);
    EXPECT_FALSE(deviceKeys.exists());
    EXPECT_FALSE(store.hasKey());

    // With no device key at all the same message; the password of the new vault works.
    store.setErrorMessage(std::nullopt);
    run(store.unlockWithBiometrics());
    EXPECT_EQ(store.errorMessage(), kKeyUnavailable);
    EXPECT_TRUE(run(store.unlock("new password")));
    EXPECT_EQ(store.phase(), kUnlocked);
}

TEST_F(VaultStoreLifecycleTest, UnlockFailuresReportTheirMessageAndChangeNothing) {
    Device device(root_.path() / "laptop", std::nullopt, "Laptop");
    device.createVault().lock(true);
    VaultStore& store = device.openStore();
    run(store.start());
    ASSERT_EQ(store.phase(), kLocked);

    EXPECT_FALSE(run(store.unlock("wrong")));
    EXPECT_EQ(store.errorMessage(), kWrongPassword);
    EXPECT_EQ(store.phase(), kLocked);
    EXPECT_FALSE(store.hasKey());
    EXPECT_FALSE(store.header());

    struct Case {
        const char* name;
        std::string_view content; // none: the file is removed
        std::string expected;
    };
    const Bytes good = test::readBytes(device.localVault());
    std::string newer = toString(good);
    newer.replace(newer.find("\"version\":1"), 11, "\"version\":2");
    const Case cases[] = {
        {"damaged", "{\"format\":", "The vault file is damaged or was modified."},
        {"newer", newer, "This file was made by a newer version of Tallowin."},
        {"missing", {}, kKeyUnavailable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(device.localVault());
        if (!c.content.empty()) {
            ASSERT_FALSE(writeFileAtomically(device.localVault(), toBytes(c.content)));
        }
        store.setErrorMessage(std::nullopt);
        EXPECT_FALSE(run(store.unlock(kPassword)));
        EXPECT_EQ(store.errorMessage(), c.expected);
        EXPECT_EQ(store.phase(), kLocked);
    }
}

TEST_F(VaultStoreLifecycleTest, ChangePasswordChecksTheCurrentOneAndRewritesTheVault) {
    Device device(root_.path() / "laptop", sync_, "Laptop");
    VaultStore& store = device.createVault();
    const VaultEnvelope header = *store.header();
    const std::size_t history = test::fileCount(test::historyIn(sync_));

    EXPECT_FALSE(run(store.changePassword("wrong", "new password")));
    EXPECT_EQ(store.errorMessage(), kWrongPassword);
    EXPECT_EQ(store.header(), header);

    device.clock().advance(60);
    store.setErrorMessage(std::nullopt);
    EXPECT_TRUE(run(store.changePassword(kPassword, "new password")));
    EXPECT_FALSE(store.errorMessage());
    EXPECT_EQ(store.header()->keyID, header.keyID);
    EXPECT_NE(store.header()->kdf.salt, header.kdf.salt);
    EXPECT_EQ(device.defaults().date(kLastPasswordEntryKey), test::kStart.adding(60));
    // Forced: both copies carry the new wrapped key although no account changed.
    for (const fs::path& copy : {device.localVault(), test::cloudVaultIn(sync_)}) {
        const VaultEnvelope written = decodeEnvelope(test::readBytes(copy));
        EXPECT_EQ(written.wrappedKey, store.header()->wrappedKey);
        EXPECT_THROW((void)unwrapVaultKey(written, kPassword), VaultError);
        EXPECT_EQ(unwrapVaultKey(written, "new password").id, header.keyID);
    }
    EXPECT_EQ(test::fileCount(test::historyIn(sync_)), history + 1);
    EXPECT_TRUE(run(store.checkPassword("new password")));
    EXPECT_FALSE(run(store.checkPassword(kPassword)));

    store.lock(true);
    EXPECT_FALSE(run(store.changePassword("new password", "third")));
}

TEST_F(VaultStoreLifecycleTest, LockDuringAnUnlockWins) {
    Device device(root_.path() / "laptop", std::nullopt, "Laptop");
    device.createVault().lock(true);
    VaultStore& store = device.openStore();
    run(store.start());
    ASSERT_EQ(store.phase(), kLocked);

    // The screen locks while the unlock's first sync pass runs.
    QMetaObject::Connection connection;
    connection = QObject::connect(&store, &VaultStore::syncStatusChanged, [&] {
        if (store.syncStatus().kind == SyncStatus::syncing) {
            QObject::disconnect(connection);
            store.lock(false);
        }
    });
    EXPECT_FALSE(run(store.unlock(kPassword)));
    EXPECT_EQ(store.phase(), kLocked);
    EXPECT_FALSE(store.hasKey());
    device.settle();
    EXPECT_TRUE(store.accounts().empty());
    EXPECT_TRUE(store.all().empty());
}

} // namespace
} // namespace tallowin
