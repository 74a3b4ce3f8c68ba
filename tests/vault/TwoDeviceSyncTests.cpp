// SPDX-License-Identifier: GPL-3.0-or-later
// Two computers, each with its own home, sharing one sync folder of real files.
#include "StoreFixture.h"
#include "TempFolder.h"
#include "core/SharedConfiguration.h"
#include "core/VaultError.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tallowin {
namespace {

namespace fs = std::filesystem;
using test::Device;
using test::draft;
using test::kPassword;
using test::kStart;
using test::run;

const std::string kDeviceA = "AAAAAAAA-0000-4000-8000-000000000001";
const std::string kDeviceB = "BBBBBBBB-0000-4000-8000-000000000002"; // the greater one
const std::string kForeign =
    "The vault in iCloud uses a different key than this device. Nothing was overwritten. "
    "Unlock with that vault's master password.";

std::vector<std::string> labelsOf(const std::vector<Account>& accounts) {
    std::vector<std::string> labels;
    for (const Account& account : accounts) {
        labels.push_back(account.label);
    }
    std::sort(labels.begin(), labels.end());
    return labels;
}

const Account& find(const std::vector<Account>& accounts, const Uuid& id) {
    const auto it = std::find_if(accounts.begin(), accounts.end(),
                                 [&](const Account& account) { return account.id == id; });
    if (it == accounts.end()) {
        throw std::runtime_error("no such account");
    }
    return *it;
}

class TwoDeviceSyncTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(sync_);
        ASSERT_FALSE(a_.defaults().setString(kDeviceIDKey, kDeviceA));
        ASSERT_FALSE(b_.defaults().setString(kDeviceIDKey, kDeviceB));
        a_.createVault();
        b_.openWithPassword();
        ASSERT_EQ(b_.store().syncStatus(), test::statusOf(SyncStatus::idle));
    }

    /// Both computers at `time`.
    void setTime(double secondsAfterStart) {
        a_.clock().set(kStart.adding(secondsAfterStart));
        b_.clock().set(kStart.adding(secondsAfterStart));
    }

    /// Both computers come online (A first) and sync until both have seen everything. The
    /// folder watch makes each react to the other's writes as well; when the two passes
    /// overlap, the later write wins the file for a moment and the next pass restores the
    /// other's changes, so the passes go on until the three copies agree.
    void converge() {
        a_.restart();
        b_.restart();
        for (int round = 0; round < 5; ++round) {
            run(a_.store().sync(false));
            a_.settle();
            run(b_.store().sync(false));
            b_.settle();
            if (a_.store().all() == b_.store().all() && cloudAccounts() == a_.store().all()) {
                return;
            }
        }
        ADD_FAILURE() << "the devices did not converge";
    }

    VaultKey key() { return test::keyOf(test::cloudVaultIn(sync_)); }
    std::vector<Account> cloudAccounts() {
        return test::accountsIn(test::cloudVaultIn(sync_), key());
    }

    test::TempFolder root_;
    fs::path sync_ = root_.path() / "Sync";
    Device a_{root_.path() / "a", sync_, "Anna's Laptop"};
    Device b_{root_.path() / "b", sync_, "Office PC"};
};

TEST_F(TwoDeviceSyncTest, OfflineEditsOnBothConvergeAndThenNothingIsWritten) {
    setTime(60);
    a_.restart(/*online=*/false).addDrafts({draft("GitHub", "from A", "AAAAAAAA")});
    b_.restart(/*online=*/false).addDrafts({draft("Google", "from B", "BBBBBBBB")});
    a_.settle();
    b_.settle();
    EXPECT_EQ(b_.store().syncStatus(), test::statusOf(SyncStatus::localOnly));
    EXPECT_TRUE(cloudAccounts().empty());

    setTime(120);
    converge();
    const std::vector<std::string> both{"from A", "from B"};
    EXPECT_EQ(labelsOf(a_.store().accounts()), both);
    EXPECT_EQ(labelsOf(b_.store().accounts()), both);
    EXPECT_EQ(labelsOf(cloudAccounts()), both);
    EXPECT_EQ(test::accountsIn(a_.localVault(), key()), cloudAccounts());
    EXPECT_EQ(test::accountsIn(b_.localVault(), key()), cloudAccounts());

    // From here on nothing changes: passes on either side write no file.
    const test::FileStamp cloud = test::stampOf(test::cloudVaultIn(sync_));
    const test::FileStamp localA = test::stampOf(a_.localVault());
    const test::FileStamp localB = test::stampOf(b_.localVault());
    const std::size_t history = test::fileCount(test::historyIn(sync_));
    for (int round = 0; round < 3; ++round) {
        setTime(180 + round);
        run(a_.store().sync(false));
        run(b_.store().sync(false));
        b_.store().storageChanged();
        b_.settle();
    }
    EXPECT_EQ(test::stampOf(test::cloudVaultIn(sync_)), cloud);
    EXPECT_EQ(test::stampOf(a_.localVault()), localA);
    EXPECT_EQ(test::stampOf(b_.localVault()), localB);
    EXPECT_EQ(test::fileCount(test::historyIn(sync_)), history);
    EXPECT_EQ(a_.store().lastSynced(), kStart.adding(182));
}

TEST_F(TwoDeviceSyncTest, SameAccountEditedOnBothResolvesByTheMergeRule) {
    a_.store().addDrafts({draft("GitHub", "original", "AAAAAAAA")});
    a_.settle();
    b_.restart();
    const Uuid id = b_.store().accounts().front().id;

    struct Case {
        const char* name;
        double timeA;
        double timeB;
        const char* winner;
    };
    const Case cases[] = {
        {"later edit wins", 200, 100, "edited on A"},
        {"later edit wins the other way", 300, 400, "edited on B"},
        {"same time: the greater device id wins", 500, 500, "edited on B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Account onA = find(a_.restart(false).all(), id);
        onA.label = "edited on A";
        a_.clock().set(kStart.adding(c.timeA));
        a_.store().updateAccount(onA);
        Account onB = find(b_.restart(false).all(), id);
        onB.label = "edited on B";
        b_.clock().set(kStart.adding(c.timeB));
        b_.store().updateAccount(onB);
        a_.settle();
        b_.settle();

        converge();
        EXPECT_EQ(find(a_.store().all(), id).label, c.winner);
        EXPECT_EQ(find(b_.store().all(), id).label, c.winner);
        EXPECT_EQ(find(cloudAccounts(), id).label, c.winner);
    }
}

TEST_F(TwoDeviceSyncTest, DeletionAgainstAnEditKeepsTheLaterChange) {
    a_.store().addDrafts({draft("GitHub", "original", "AAAAAAAA")});
    a_.settle();
    b_.restart();
    const Uuid id = b_.store().accounts().front().id;

    // Deleted on A, edited later on B: the edit wins and the account is live again.
    a_.clock().set(kStart.adding(100));
    a_.restart(false).moveToRecentlyDeleted(id);
    b_.clock().set(kStart.adding(200));
    Account onB = find(b_.restart(false).all(), id);
    onB.label = "edited later";
    b_.store().updateAccount(onB);
    a_.settle();
    b_.settle();
    converge();
    for (Device* device : {&a_, &b_}) {
        ASSERT_EQ(device->store().accounts().size(), 1u);
        EXPECT_EQ(device->store().accounts().front().label, "edited later");
        EXPECT_TRUE(device->store().recentlyDeleted().empty());
    }

    // Edited on A, deleted later on B: it stays deleted and is listed as such.
    a_.clock().set(kStart.adding(300));
    Account onA = find(a_.restart(false).all(), id);
    onA.label = "edited before the deletion";
    a_.store().updateAccount(onA);
    b_.clock().set(kStart.adding(400));
    b_.restart(false).moveToRecentlyDeleted(id);
    a_.settle();
    b_.settle();
    converge();
    for (Device* device : {&a_, &b_}) {
        EXPECT_TRUE(device->store().accounts().empty());
        ASSERT_EQ(device->store().recentlyDeleted().size(), 1u);
        EXPECT_EQ(device->store().recentlyDeleted().front().deletedAt, kStart.adding(400));
    }

    // Deleted for good on B: A loses the setup key and no longer lists it, the tombstone stays.
    b_.clock().set(kStart.adding(500));
    b_.store().deleteNow(id);
    b_.settle();
    run(a_.store().sync(false));
    EXPECT_TRUE(a_.store().recentlyDeleted().empty());
    ASSERT_EQ(a_.store().all().size(), 1u);
    EXPECT_TRUE(a_.store().all().front().secret.empty());
    EXPECT_TRUE(find(test::accountsIn(a_.localVault(), key()), id).secret.empty());
}

TEST_F(TwoDeviceSyncTest, ConflictCopiesOfEverySyncToolAreMergedThenRemoved) {
    a_.store().addDrafts({draft("GitHub", "from A", "AAAAAAAA")});
    a_.settle();

    // B wrote three versions that the sync tools kept beside the vault, plus one that is
    // not a vault at all.
    const fs::path documents = test::cloudVaultIn(sync_).parent_path();
    const char* const copies[] = {
        "vault.sync-conflict-20260305-141503-ABCDEF1.tlwvault",
        "vault (conflicted copy 2026-03-05 141503).tlwvault",
        "vault (Office PC's conflicted copy 2026-03-05).tlwvault",
    };
    // They arrive together, as after a reconnect: kept aside until then, so that A's folder
    // watcher does not merge them one at a time while B is still writing.
    const fs::path aside = sync_.parent_path() / "aside";
    fs::create_directories(aside);
    VaultStore& offline = b_.restart(false);
    int n = 0;
    for (const char* name : copies) {
        b_.clock().set(kStart.adding(100 + n));
        offline.addDrafts({draft("Service", std::string("from B ") + std::to_string(n),
                                 std::string(1, static_cast<char>('B' + n)) + "BBBBBBB")});
        b_.settle();
        fs::copy_file(b_.localVault(), aside / name);
        ++n;
    }
    ASSERT_FALSE(writeFileAtomically(aside / "vault.sync-conflict-20260305-141504-XYZ.tlwvault",
                                     toBytes("not a vault")));
    a_.settle();
    const std::size_t history = test::fileCount(test::historyIn(sync_));
    for (const fs::directory_entry& entry : fs::directory_iterator(aside)) {
        fs::rename(entry.path(), documents / entry.path().filename());
    }

    a_.clock().set(kStart.adding(200));
    run(a_.store().sync(false));
    a_.settle(); // and any pass the folder watcher started meanwhile
    const std::vector<std::string> all{"from A", "from B 0", "from B 1", "from B 2"};
    EXPECT_EQ(labelsOf(a_.store().accounts()), all);
    EXPECT_EQ(labelsOf(cloudAccounts()), all);
    for (const fs::directory_entry& entry : fs::directory_iterator(documents)) {
        EXPECT_TRUE(entry.path().filename() == "vault.tlwvault" ||
                    entry.path().filename() == "History")
            << entry.path();
    }
    EXPECT_EQ(test::fileCount(test::historyIn(sync_)), history + 1);
    EXPECT_EQ(a_.store().syncStatus(), test::statusOf(SyncStatus::idle));
}

TEST_F(TwoDeviceSyncTest, VaultRecreatedWithAnotherKeyIsNeverOverwritten) {
    a_.store().addDrafts({draft("GitHub", "from A", "AAAAAAAA")});
    a_.settle();

    // Another computer started over with a vault of its own, and the sync tool brings it in
    // in place of this one.
    const fs::path elsewhere = root_.path() / "Elsewhere";
    fs::create_directories(elsewhere);
    Device c(root_.path() / "c", elsewhere, "New PC");
    c.createVault("another password");
    const Bytes recreated = test::readBytes(test::cloudVaultIn(elsewhere));
    ASSERT_FALSE(writeFileAtomically(test::cloudVaultIn(sync_), recreated));
    const Bytes localA = test::readBytes(a_.localVault());
    const std::size_t history = test::fileCount(test::historyIn(sync_));

    a_.clock().advance(60);
    a_.store().addDrafts({draft("Google", "after the re-creation", "BBBBBBBB")});
    a_.settle();
    EXPECT_EQ(a_.store().syncStatus(), SyncStatus::makeFailed(kForeign));
    EXPECT_EQ(a_.store().errorMessage(), kForeign);
    EXPECT_EQ(test::readBytes(test::cloudVaultIn(sync_)), recreated);
    EXPECT_EQ(test::readBytes(a_.localVault()), localA);
    EXPECT_EQ(test::fileCount(test::historyIn(sync_)), history);
    EXPECT_EQ(a_.store().accounts().size(), 2u); // still usable in memory

    // A's next start opens the new vault only with its password.
    a_.store().lock(true);
    EXPECT_FALSE(run(a_.store().unlock(kPassword)));
    EXPECT_TRUE(run(a_.store().unlock("another password")));
}

TEST_F(TwoDeviceSyncTest, PasswordChangedOnOneDeviceReachesTheOthersHeader) {
    a_.clock().advance(60);
    ASSERT_TRUE(run(a_.store().changePassword(kPassword, "new password")));
    const VaultEnvelope changed = *a_.store().header();

    b_.clock().advance(120);
    run(b_.store().sync(false));
    EXPECT_EQ(b_.store().header()->kdf, changed.kdf);
    EXPECT_EQ(b_.store().header()->wrappedKey, changed.wrappedKey);
    EXPECT_TRUE(run(b_.store().checkPassword("new password")));
    EXPECT_FALSE(run(b_.store().checkPassword(kPassword)));

    // B keeps working with its key, and what it writes carries the new password.
    b_.store().addDrafts({draft("GitHub", "from B", "AAAAAAAA")});
    b_.settle();
    EXPECT_EQ(test::keyOf(b_.localVault(), "new password").id, changed.keyID);
    run(a_.store().sync(false));
    EXPECT_EQ(a_.store().accounts().size(), 1u);
    EXPECT_EQ(a_.store().header()->wrappedKey, changed.wrappedKey);
}

} // namespace
} // namespace tallowin
