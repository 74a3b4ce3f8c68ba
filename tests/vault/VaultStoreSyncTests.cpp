// SPDX-License-Identifier: GPL-3.0-or-later
#include "StoreFixture.h"
#include "TempFolder.h"
#include "browser/LearnedSites.h"
#include "core/FolderLock.h"
#include "core/SharedConfiguration.h"
#include "vault/IssuerRepair.h"

#include <QVariantMap>
#include <gtest/gtest.h>

namespace tallowin {
namespace {

namespace fs = std::filesystem;
using test::Device;
using test::draft;
using test::kPassword;
using test::kStart;
using test::run;

constexpr double kDay = 86'400;
const std::string kDevice = "6F9619FF-8B86-D011-B42D-00C04FC964FF";

std::vector<std::string> titles(const std::vector<Account>& accounts) {
    std::vector<std::string> result;
    for (const Account& account : accounts) {
        result.push_back(account.issuer + "/" + account.label);
    }
    return result;
}

const Account* byIssuer(const std::vector<Account>& accounts, std::string_view issuer) {
    for (const Account& account : accounts) {
        if (account.issuer == issuer) {
            return &account;
        }
    }
    return nullptr;
}

class VaultStoreSyncTest : public testing::Test {
protected:
    void open(bool cloud) {
        fs::create_directories(sync_);
        device_ = std::make_unique<Device>(root_.path() / "laptop",
                                           cloud ? std::optional(sync_) : std::nullopt, "Laptop");
        ASSERT_FALSE(device_->defaults().setString(kDeviceIDKey, kDevice));
        device_->createVault();
    }

    VaultStore& store() { return device_->store(); }
    FixedClock& clock() { return device_->clock(); }
    std::vector<Account> localAccounts() {
        return test::accountsIn(device_->localVault(), test::keyOf(device_->localVault()));
    }
    std::vector<Account> cloudAccounts() {
        return test::accountsIn(test::cloudVaultIn(sync_), test::keyOf(device_->localVault()));
    }
    /// Counts the passes that start from now on.
    int& countPasses() {
        QObject::connect(&store(), &VaultStore::syncStatusChanged, [this] {
            passes_ += store().syncStatus().kind == SyncStatus::syncing ? 1 : 0;
        });
        return passes_;
    }

    test::TempFolder root_;
    fs::path sync_ = root_.path() / "Sync";
    std::unique_ptr<Device> device_;
    int passes_ = 0;
};

TEST_F(VaultStoreSyncTest, AddDraftsSkipsSetupKeysAlreadyPresent) {
    open(false);
    EXPECT_EQ(store().addDrafts({draft("GitHub", "me", "JBSWY3DPEHPK3PXP")}), (AddResult{1, 0}));
    const AddResult result = store().addDrafts({
        draft("GitHub copy", "me", "jbsw y3dp-ehpk 3pxp"), // the same bytes, written otherwise
        draft("Broken", "1", "not base32!"),
        draft("Broken", "2", "also *not*"), // undecodable keys count as the same
        draft("New", "n", "GEZDGNBV"),
        draft("New again", "n", "gezd gnbv"), // added earlier in the same call
    });
    EXPECT_EQ(result, (AddResult{2, 3}));
    ASSERT_EQ(store().all().size(), 3u);
    for (const Account& account : store().all()) {
        EXPECT_EQ(account.createdAt, kStart);
        EXPECT_EQ(account.updatedAt, kStart);
        EXPECT_EQ(account.updatedBy, kDevice);
    }

    // Deleted accounts do not count.
    clock().advance(1);
    store().moveToRecentlyDeleted(byIssuer(store().all(), "GitHub")->id);
    EXPECT_EQ(store().addDrafts({draft("GitHub", "me", "JBSWY3DPEHPK3PXP")}), (AddResult{1, 0}));
    device_->settle();
    EXPECT_EQ(localAccounts().size(), 4u);
}

TEST_F(VaultStoreSyncTest, PublishedListsFollowDisplayOrderAndDeletionTime) {
    open(false);
    store().addDrafts({
        draft("zeta", "a", "AAAAAAAA"),
        draft("", "Alpha", "BBBBBBBB"),
        draft("\u00C9mile", "x", "CCCCCCCC"), // with the e's, not after z
        draft("Beta", "b", "DDDDDDDD"),
        draft("beta", "a", "EEEEEEEE"),
        draft("Beta", "A", "FFFFFFFF"), // same words as the one before: the id decides
        draft("Gone", "1", "GGGGGGGG"),
        draft("Gone", "2", "HHHHHHHH"),
        draft("Gone", "3", "IIIIIIII"),
    });
    std::vector<Uuid> gone(3);
    for (const Account& account : store().all()) {
        if (account.issuer == "Gone") {
            gone[static_cast<std::size_t>(std::stoi(account.label) - 1)] = account.id;
        }
    }
    for (const Uuid& id : gone) {
        clock().advance(10);
        store().moveToRecentlyDeleted(id);
    }
    store().deleteNow(gone[1]);
    device_->settle();

    const std::vector<Account>& accounts = store().accounts();
    ASSERT_EQ(accounts.size(), 6u);
    EXPECT_EQ(accounts[0].label, "Alpha");
    std::vector<std::string> tied = titles({accounts[1], accounts[2]});
    std::sort(tied.begin(), tied.end());
    EXPECT_EQ(tied, (std::vector<std::string>{"Beta/A", "beta/a"}));
    EXPECT_LT(accounts[1].id, accounts[2].id);
    EXPECT_EQ(titles({accounts[3], accounts[4], accounts[5]}),
              (std::vector<std::string>{"Beta/b", "\u00C9mile/x", "zeta/a"}));

    // Newest deletion first; the account erased with deleteNow is hidden but still kept.
    EXPECT_EQ(titles(store().recentlyDeleted()), (std::vector<std::string>{"Gone/3", "Gone/1"}));
    const auto erased = std::find_if(store().all().begin(), store().all().end(),
                                     [&](const Account& a) { return a.id == gone[1]; });
    ASSERT_NE(erased, store().all().end());
    EXPECT_TRUE(erased->secret.empty());
    EXPECT_TRUE(erased->deletedAt);
    EXPECT_EQ(localAccounts().size(), 9u);

    // The same lists as the properties screens bind to, in the same order, without secrets.
    const QVariantList published = store().property("accounts").toList();
    ASSERT_EQ(published.size(), 6);
    EXPECT_EQ(published[0].toMap().value("title").toString(), "Alpha");
    EXPECT_EQ(published[5].toMap().value("issuer").toString(), "zeta");
    EXPECT_FALSE(published[0].toMap().contains("secret"));
    const QVariantList deleted = store().property("recentlyDeleted").toList();
    ASSERT_EQ(deleted.size(), 2);
    EXPECT_EQ(deleted[0].toMap().value("label").toString(), "3");
    EXPECT_TRUE(deleted[0].toMap().contains("deletedAt"));
}

TEST_F(VaultStoreSyncTest, EditsAreStampedAndReachBothCopies) {
    open(true);
    store().addDrafts({draft("GitHub", "me", "JBSWY3DPEHPK3PXP")});
    device_->settle();
    Account account = store().accounts().front();

    clock().advance(5);
    account.label = "work";
    account.websites = {"github.com"};
    store().updateAccount(account);
    clock().advance(5);
    store().moveToRecentlyDeleted(account.id);
    clock().advance(5);
    store().restoreDeleted(account.id);
    Account unknown = account;
    unknown.id = Uuid::random();
    store().updateAccount(unknown); // no such account: nothing changes
    device_->settle();

    ASSERT_EQ(store().all().size(), 1u);
    const Account& stored = store().all().front();
    EXPECT_EQ(stored.label, "work");
    EXPECT_EQ(stored.websites, std::vector<std::string>{"github.com"});
    EXPECT_FALSE(stored.deletedAt);
    EXPECT_EQ(stored.updatedAt, kStart.adding(15));
    EXPECT_EQ(stored.updatedBy, kDevice);
    EXPECT_EQ(localAccounts(), store().all());
    EXPECT_EQ(cloudAccounts(), store().all());

    clock().advance(5);
    store().deleteNow(account.id);
    device_->settle();
    EXPECT_TRUE(cloudAccounts().front().secret.empty());
    EXPECT_TRUE(cloudAccounts().front().websites.empty());
    EXPECT_FALSE(cloudAccounts().front().deletedAt); // deleteNow keeps deletedAt as it was
}

TEST(IssuerRepair, PlusSignsBetweenWordsBecomeSpaces) {
    const std::pair<std::string, std::string> cases[] = {
        {"Acme+Corp", "Acme Corp"},
        {"a+b+c", "a b c"},
        {"Caf\u00E9+Cr\u00E8me", "Caf\u00E9 Cr\u00E8me"},
        {"Notepad++", "Notepad++"},
        {"C++ Club", "C++ Club"},
        {"+Plus", "+Plus"},
        {"Plus+", "Plus+"},
        {"A + B", "A + B"},
        {"A+\u00A0B", "A+\u00A0B"}, // a no-break space is white space too
        {"A+\tB", "A+\tB"},
        {"+", "+"},
        {"", ""},
    };
    for (const auto& [issuer, expected] : cases) {
        EXPECT_EQ(repairedIssuer(issuer), expected) << issuer;
    }
}

TEST_F(VaultStoreSyncTest, PassRepairsIssuersOfLiveAccountsAndStampsThem) {
    open(false);
    store().addDrafts({draft("Acme+Corp", "me", "AAAAAAAA"), draft("Notepad++", "x", "BBBBBBBB"),
                       draft("Old+Bank", "y", "CCCCCCCC")});
    device_->settle();
    // addDrafts and its pass ran at kStart; the pass repairs with the pass's time.
    const Account* acme = byIssuer(store().all(), "Acme Corp");
    ASSERT_TRUE(acme);
    EXPECT_EQ(acme->updatedBy, kDevice);
    EXPECT_TRUE(byIssuer(store().all(), "Notepad++"));
    EXPECT_TRUE(byIssuer(localAccounts(), "Acme Corp"));

    // A deleted account keeps its issuer.
    const Uuid oldBank = byIssuer(store().all(), "Old Bank")->id;
    clock().advance(1);
    store().moveToRecentlyDeleted(oldBank);
    Account deleted = store().recentlyDeleted().front();
    deleted.issuer = "Old+Bank";
    clock().advance(1);
    store().updateAccount(deleted);
    device_->settle();
    ASSERT_TRUE(byIssuer(store().all(), "Old+Bank"));
    EXPECT_EQ(byIssuer(store().all(), "Old+Bank")->updatedAt, kStart.adding(2));
    EXPECT_EQ(repairIssuers(store().all(), kStart.adding(99), kDevice), store().all());
}

TEST_F(VaultStoreSyncTest, PassesWithoutChangesWriteNothing) {
    open(true);
    clock().advance(1); // a history version of its own
    store().addDrafts({draft("GitHub", "me", "JBSWY3DPEHPK3PXP")});
    device_->settle();
    const test::FileStamp local = test::stampOf(device_->localVault());
    const test::FileStamp cloud = test::stampOf(test::cloudVaultIn(sync_));
    const std::size_t history = test::fileCount(test::historyIn(sync_));
    EXPECT_EQ(history, 2u);

    for (int i = 1; i <= 3; ++i) {
        clock().advance(60);
        run(store().sync(false));
        store().storageChanged(); // as a change notification of the cloud folder would
        device_->settle();
        EXPECT_EQ(store().lastSynced(), kStart.adding(1 + 60 * i));
        EXPECT_EQ(store().syncStatus(), test::statusOf(SyncStatus::idle));
    }
    EXPECT_EQ(test::stampOf(device_->localVault()), local);
    EXPECT_EQ(test::stampOf(test::cloudVaultIn(sync_)), cloud);
    EXPECT_EQ(test::fileCount(test::historyIn(sync_)), history);
}

TEST_F(VaultStoreSyncTest, WithoutCloudHistoryFollowsContentChangesOnly) {
    open(false);
    const fs::path history = device_->sharedDirectory() / "History";
    EXPECT_EQ(store().syncStatus(), test::statusOf(SyncStatus::localOnly));
    EXPECT_EQ(test::fileCount(history), 1u);
    clock().advance(60);
    store().addDrafts({draft("GitHub", "me", "JBSWY3DPEHPK3PXP")});
    device_->settle();
    EXPECT_EQ(test::fileCount(history), 2u);

    // A forced pass with the same accounts rewrites the local copy, without a history version.
    const test::FileStamp before = test::stampOf(device_->localVault());
    clock().advance(60);
    ASSERT_TRUE(run(store().changePassword(kPassword, "new password")));
    EXPECT_NE(test::stampOf(device_->localVault()), before);
    EXPECT_EQ(test::fileCount(history), 2u);
    EXPECT_EQ(test::keyOf(device_->localVault(), "new password").id, store().header()->keyID);
}

TEST_F(VaultStoreSyncTest, TombstonesArePurgedThirtyDaysAfterDeletion) {
    open(true);
    store().addDrafts({draft("Keep", "me", "AAAAAAAA"), draft("Drop", "me", "BBBBBBBB")});
    clock().advance(1);
    store().moveToRecentlyDeleted(byIssuer(store().all(), "Drop")->id);
    device_->settle();

    clock().advance(30 * kDay - 1); // 30 days after the deletion, less a second
    run(store().sync(false));
    EXPECT_TRUE(byIssuer(store().all(), "Drop"));
    EXPECT_EQ(store().recentlyDeleted().size(), 1u);

    clock().advance(1);
    run(store().sync(false));
    EXPECT_FALSE(byIssuer(store().all(), "Drop"));
    EXPECT_TRUE(store().recentlyDeleted().empty());
    EXPECT_FALSE(byIssuer(localAccounts(), "Drop"));
    EXPECT_FALSE(byIssuer(cloudAccounts(), "Drop"));
}

TEST_F(VaultStoreSyncTest, LearnedSitesJoinTheAccountsAndAreWritten) {
    open(true);
    store().addDrafts({draft("GitHub", "me", "JBSWY3DPEHPK3PXP")});
    device_->settle();
    const Uuid id = store().all().front().id;
    rememberSite(device_->sharedDirectory(), "https://www.github.com/login", id.toString());
    rememberSite(device_->sharedDirectory(), "unknown.example", Uuid::random().toString());

    clock().advance(60);
    run(store().sync(false));
    device_->settle();
    const Account& account = store().all().front();
    EXPECT_EQ(account.websites, std::vector<std::string>{"github.com"});
    EXPECT_EQ(account.updatedAt, kStart.adding(60));
    EXPECT_EQ(store().accounts().front().websites, account.websites);
    EXPECT_FALSE(fs::exists(device_->sharedDirectory() / "learned-sites.json"));
    EXPECT_EQ(localAccounts().front().websites, account.websites);
    EXPECT_EQ(cloudAccounts().front().websites, account.websites);
}

TEST_F(VaultStoreSyncTest, EditMadeWhileAPassWaitsSurvivesItAndIsWritten) {
    open(true);
    bool edited = false;
    VaultStoreProbe::beforeCloudRead(store(), [&] {
        if (!std::exchange(edited, true)) {
            store().addDrafts({draft("Late", "me", "AAAAAAAA")});
        }
    });
    store().addDrafts({draft("First", "me", "BBBBBBBB")});
    device_->settle();

    EXPECT_TRUE(edited);
    EXPECT_EQ(titles(store().accounts()), (std::vector<std::string>{"First/me", "Late/me"}));
    EXPECT_EQ(localAccounts(), store().all());
    EXPECT_EQ(cloudAccounts(), store().all());
}

// Two processes on one shared directory (the command line beside the application): each
// pass reads, merges and writes the same local copy, so they must take turns or the later
// write drops what the earlier one added.
TEST_F(VaultStoreSyncTest, PassesOfTwoStoresOnOneFolderTakeTurns) {
    open(false);
    Device other(root_.path() / "laptop", std::nullopt, "Laptop");
    other.openWithPassword();
    {
        // Held as a pass of a third process would: both passes wait for it, then go in turn.
        const FolderLock busy(root_.path() / "laptop" / "shared", std::chrono::seconds(1));
        ASSERT_TRUE(busy.held());
        store().addDrafts({draft("Here", "me", "AAAAAAAA")});
        other.store().addDrafts({draft("There", "me", "BBBBBBBB")});
    }
    device_->settle();
    other.settle();
    std::vector<std::string> kept = titles(localAccounts());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"Here/me", "There/me"}));
}

TEST_F(VaultStoreSyncTest, RequestsDuringAPassFoldIntoOneMorePass) {
    open(false); // no folder watch: every pass is one this test asked for
    int& passes = countPasses();
    bool requested = false;
    QObject::connect(&store(), &VaultStore::syncStatusChanged, [&] {
        if (store().syncStatus().kind == SyncStatus::syncing && !std::exchange(requested, true)) {
            store().addDrafts({draft("Second", "me", "AAAAAAAA")});
            for (int i = 0; i < 4; ++i) {
                store().startSync();
            }
            EXPECT_TRUE(store().isSyncing());
        }
    });
    store().addDrafts({draft("First", "me", "BBBBBBBB")});
    device_->settle();
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(localAccounts(), store().all());
    EXPECT_EQ(store().all().size(), 2u);
}

TEST_F(VaultStoreSyncTest, LockDuringAPassKeepsTheListsEmptyAndStillWritesTheEdit) {
    open(true);
    VaultStoreProbe::beforeCloudRead(store(), [&] {
        if (store().hasKey() && store().all().size() == 1) {
            store().addDrafts({draft("Just before locking", "me", "AAAAAAAA")});
            store().lock(false);
        }
    });
    store().addDrafts({draft("First", "me", "BBBBBBBB")});
    device_->settle();

    EXPECT_EQ(store().phase(), Phase{Phase::locked});
    EXPECT_TRUE(store().all().empty());
    EXPECT_TRUE(store().accounts().empty());
    EXPECT_TRUE(store().recentlyDeleted().empty());
    std::vector<std::string> written = titles(cloudAccounts());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"First/me", "Just before locking/me"}));
    EXPECT_EQ(localAccounts(), cloudAccounts());

    VaultStoreProbe::beforeCloudRead(store(), nullptr);
    EXPECT_TRUE(run(store().unlockFromSession()));
    EXPECT_EQ(store().accounts().size(), 2u);
}

TEST_F(VaultStoreSyncTest, UnreadableCopiesStopThePassWithTheirMessage) {
    open(true);
    store().addDrafts({draft("GitHub", "me", "JBSWY3DPEHPK3PXP")});
    device_->settle();
    const Bytes local = test::readBytes(device_->localVault());
    const Bytes cloud = test::readBytes(test::cloudVaultIn(sync_));
    std::string newer = toString(cloud);
    newer.replace(newer.find("\"version\":1"), 11, "\"version\":7");

    struct Case {
        const char* name;
        const char* secret;
        std::function<void()> damage;
        std::string message;
    };
    const Case cases[] = {
        {"damaged local copy", "AAAAAAAA",
         [&] { ASSERT_FALSE(writeFileAtomically(device_->localVault(), toBytes("garbage"))); },
         "The vault file is damaged or was modified."},
        {"cloud copy from a newer program", "BBBBBBBB",
         [&] { ASSERT_FALSE(writeFileAtomically(test::cloudVaultIn(sync_), toBytes(newer))); },
         "This file was made by a newer version of Tallowin."},
        {"cloud copy unreadable", "CCCCCCCC",
         [&] {
             fs::remove(test::cloudVaultIn(sync_));
             fs::create_directory(test::cloudVaultIn(sync_));
         },
         std::make_error_code(std::errc::invalid_argument).message()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.damage();
        const test::FileStamp before = test::stampOf(device_->localVault());
        store().addDrafts({draft(c.name, "x", c.secret)});
        device_->settle();
        EXPECT_EQ(store().syncStatus(), SyncStatus::makeFailed(c.message));
        run(store().sync(false)); // and so every pass while the copy stays as it is
        device_->settle();        // the folder watcher may have started one more in the meantime
        EXPECT_EQ(store().syncStatus(), SyncStatus::makeFailed(c.message));
        EXPECT_EQ(test::stampOf(device_->localVault()), before);
        EXPECT_FALSE(store().errorMessage());
        EXPECT_TRUE(byIssuer(store().accounts(), c.name)); // the edit stays in memory

        // Repaired: the next pass writes everything.
        fs::remove_all(test::cloudVaultIn(sync_));
        ASSERT_FALSE(writeFileAtomically(device_->localVault(), local));
        ASSERT_FALSE(writeFileAtomically(test::cloudVaultIn(sync_), cloud));
        run(store().sync(false));
        device_->settle();
        EXPECT_EQ(store().syncStatus(), test::statusOf(SyncStatus::idle));
        EXPECT_TRUE(byIssuer(cloudAccounts(), c.name));
    }
}

} // namespace
} // namespace tallowin
