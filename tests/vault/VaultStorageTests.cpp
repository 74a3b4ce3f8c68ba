// SPDX-License-Identifier: GPL-3.0-or-later
#include "EventLoop.h"
#include "TempFolder.h"
#include "core/FileIO.h"
#include "core/VaultError.h"
#include "platform/ScriptedCloudDrive.h"
#include "vault/VaultStorage.h"

#include <QCoreApplication>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tallowin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::processEventsUntil;
using test::run;

// 2026-03-05T14:15:03Z
constexpr Date kNow = Date::fromUnix(1772720103);

Bytes readAll(const fs::path& path) {
    Bytes bytes;
    EXPECT_FALSE(readFile(path, bytes, 1 << 20)) << path;
    return bytes;
}

void writeAll(const fs::path& path, std::string_view text) {
    ASSERT_FALSE(writeFileAtomically(path, toBytes(text))) << path;
}

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

class VaultStorageTest : public testing::Test {
protected:
    void TearDown() override {
        if (drive_) {
            drive_->answer(std::nullopt); // lets a held lookup thread end
        }
    }

    // A storage whose cloud drive answers with `container` at once, or holds every lookup
    // until the test answers.
    void makeStorage(std::optional<std::optional<fs::path>> answer) {
        drive_ = answer ? std::make_shared<ScriptedCloudDrive>(*answer)
                        : std::make_shared<ScriptedCloudDrive>();
        storage_ = std::make_unique<VaultStorage>(shared_, drive_, QTimeZone(0));
        storage_->onConnected = [this] { ++connected_; };
        storage_->onRemoteChange = [this] { ++remoteChanges_; };
    }

    void connectCloud() {
        makeStorage(container_);
        run(storage_->waitForContainer(1h));
        ASSERT_EQ(storage_->iCloudDocuments(), documents_);
    }

    test::TempFolder root_;
    fs::path shared_ = root_.path() / "shared";
    fs::path container_ = root_.path() / "Sync" / "iCloud.com.tallowin.app";
    fs::path documents_ = container_ / "Documents";
    std::shared_ptr<ScriptedCloudDrive> drive_;
    std::unique_ptr<VaultStorage> storage_;
    int connected_ = 0;
    int remoteChanges_ = 0;
};

TEST_F(VaultStorageTest, CloudDriveOffEndsTheWaitAtOnceAndKeepsEverythingLocal) {
    makeStorage(std::optional<fs::path>());
    // An hour-long wait that returns shows it ended with resolution, not the deadline.
    run(storage_->waitForContainer(1h));

    EXPECT_FALSE(storage_->isCloudAvailable());
    EXPECT_FALSE(storage_->isResolving());
    EXPECT_TRUE(storage_->resolveStarted());
    EXPECT_EQ(connected_, 1);
    EXPECT_FALSE(storage_->vaultExistsInCloud());
    EXPECT_EQ(storage_->localVaultURL(), shared_ / "vault.tlwvault");
    EXPECT_EQ(storage_->historyDirectory(), shared_ / "History");
    EXPECT_EQ(storage_->vaultFolder(), shared_);
    EXPECT_TRUE(fs::is_directory(shared_ / "History"));

    const auto expectUnavailable = [](auto&& operation) {
        try {
            operation();
            ADD_FAILURE() << "no error";
        } catch (const VaultError& error) {
            EXPECT_EQ(error.code(), VaultError::iCloudUnavailable);
        }
    };
    expectUnavailable([&] { (void)run(storage_->readRemote()); });
    expectUnavailable([&] { run(storage_->writeRemote(toBytes("v"), {})); });

    // Resolution runs once per process.
    run(storage_->waitForContainer(1h));
    EXPECT_EQ(drive_->lookupCount(), 1);
    EXPECT_EQ(connected_, 1);
}

TEST_F(VaultStorageTest, LateAnswerEndsTheDeadlineWaitAndThenReportsTheContainer) {
    makeStorage(std::nullopt);
    run(storage_->waitForContainer(20ms));
    EXPECT_TRUE(storage_->isResolving());
    EXPECT_FALSE(storage_->isCloudAvailable());
    EXPECT_EQ(connected_, 0);
    EXPECT_EQ(storage_->historyDirectory(), shared_ / "History");

    // Another wait joins the running resolution and ends with its answer.
    QCoro::Task<> longWait = storage_->waitForContainer(1h);
    EXPECT_FALSE(longWait.isReady());
    drive_->answer(container_);
    ASSERT_TRUE(processEventsUntil([&] { return connected_ == 1 && longWait.isReady(); }));

    EXPECT_FALSE(storage_->isResolving());
    EXPECT_EQ(storage_->iCloudDocuments(), documents_);
    EXPECT_EQ(storage_->cloudVaultURL(), documents_ / "vault.tlwvault");
    EXPECT_EQ(storage_->historyDirectory(), documents_ / "History");
    EXPECT_EQ(storage_->vaultFolder(), documents_);
    EXPECT_TRUE(fs::is_directory(documents_ / "History"));
    EXPECT_EQ(drive_->lookupCount(), 1);

    // Known container: no wait at all.
    run(storage_->waitForContainer(1h));
    EXPECT_EQ(connected_, 1);
}

TEST_F(VaultStorageTest, StorageMayGoWhileTheLookupHangs) {
    makeStorage(std::nullopt);
    run(storage_->waitForContainer(20ms));
    ASSERT_TRUE(processEventsUntil([&] { return drive_->lookupCount() == 1; }));
    storage_.reset();

    drive_->answer(container_);
    // The lookup thread holds the drive until it is done.
    ASSERT_TRUE(processEventsUntil([&] { return drive_.use_count() == 1; }));
    QCoreApplication::processEvents(); // whatever it posted finds no storage
    EXPECT_EQ(connected_, 0);
}

TEST_F(VaultStorageTest, ReadRemoteGivesTheVaultAndEveryReadableConflictCopy) {
    connectCloud();
    EXPECT_EQ(run(storage_->readRemote()), RemoteRead{});
    EXPECT_FALSE(storage_->vaultExistsInCloud());

    writeAll(documents_ / "vault.tlwvault", "current");
    writeAll(documents_ / "vault.sync-conflict-20260305-141503-ABCDEF1.tlwvault", "syncthing");
    writeAll(documents_ / "vault (conflicted copy alice 2026-03-05 141503).tlwvault", "nextcloud");
    writeAll(documents_ / "vault (Anna's conflicted copy 2026-03-05).tlwvault", "dropbox");
    fs::create_directory(documents_ / "vault.sync-conflict-20260306-090000.tlwvault"); // unreadable
    writeAll(documents_ / ".vault.tlwvault.Xy12Ab", "temporary");
    writeAll(documents_ / "History" / "vault.sync-conflict-20260305-141503-B.tlwvault", "deeper");

    const RemoteRead read = run(storage_->readRemote());
    EXPECT_TRUE(storage_->vaultExistsInCloud());
    EXPECT_EQ(read.current, toBytes("current"));
    const std::vector<RemoteRead::Conflict> expected = {
        {{documents_ / "vault (Anna's conflicted copy 2026-03-05).tlwvault"}, toBytes("dropbox")},
        {{documents_ / "vault (conflicted copy alice 2026-03-05 141503).tlwvault"},
         toBytes("nextcloud")},
        {{documents_ / "vault.sync-conflict-20260305-141503-ABCDEF1.tlwvault"},
         toBytes("syncthing")},
    };
    EXPECT_EQ(read.conflicts, expected);
}

TEST_F(VaultStorageTest, ReadRemoteReportsTheSystemErrorText) {
    connectCloud();
    fs::create_directory(documents_ / "vault.tlwvault");
    try {
        (void)run(storage_->readRemote());
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::invalid_argument);
        EXPECT_EQ(std::string(error.what()), error.code().message());
    }
}

TEST_F(VaultStorageTest, WriteRemoteDeletesTheMergedConflictCopiesOnlyAfterTheWrite) {
    connectCloud();
    const fs::path merged = documents_ / "vault.sync-conflict-20260305-141503.tlwvault";
    const fs::path arrivedLater = documents_ / "vault (Bo's conflicted copy 2026-03-06).tlwvault";
    writeAll(merged, "conflict");
    const RemoteRead read = run(storage_->readRemote());
    ASSERT_EQ(read.conflicts.size(), 1u);
    const std::vector<ConflictVersion> conflicts = {read.conflicts[0].version};
    writeAll(arrivedLater, "unread");

    // A folder standing where the vault must go makes the write fail: the copy stays.
    fs::create_directories(documents_ / "vault.tlwvault" / "blocker");
    EXPECT_THROW(run(storage_->writeRemote(toBytes("merged"), conflicts)), std::system_error);
    EXPECT_TRUE(fs::exists(merged));

    fs::remove_all(documents_ / "vault.tlwvault");
    run(storage_->writeRemote(toBytes("merged"), conflicts));
    EXPECT_EQ(readAll(documents_ / "vault.tlwvault"), toBytes("merged"));
    EXPECT_EQ(modeOf(documents_ / "vault.tlwvault"), 0600u);
    EXPECT_FALSE(fs::exists(merged));
    EXPECT_TRUE(fs::exists(arrivedLater)); // never read, never merged: left for the next pass

    // Only conflict copies beside the vault are ever deleted.
    run(storage_->writeRemote(
        toBytes("again"),
        {ConflictVersion{documents_ / "vault.tlwvault"},
         ConflictVersion{shared_ / "vault.sync-conflict-20260305-141503.tlwvault"}}));
    EXPECT_EQ(readAll(documents_ / "vault.tlwvault"), toBytes("again"));
}

TEST_F(VaultStorageTest, HistoryVersionsAreWrittenListedReadAndPruned) {
    connectCloud();
    const fs::path history = documents_ / "History";
    writeAll(history / "vault-20250801T100000Z-Old Mac.tlwvault", "ancient");
    writeAll(history / ".vault-20260101T080000Z-Anna's MacBook.tlwvault.icloud", "placeholder");
    writeAll(history / "notes.txt", "other");

    run(storage_->writeHistoryVersion(toBytes("v1"), "Anna's Mac/Work", kNow));
    const fs::path written = history / "vault-20260305T141503Z-Anna's Mac-Work.tlwvault";
    EXPECT_EQ(readAll(written), toBytes("v1"));
    EXPECT_EQ(modeOf(written), 0600u);
    EXPECT_FALSE(fs::exists(history / "vault-20250801T100000Z-Old Mac.tlwvault"));

    const std::vector<Snapshot> expected = {
        {written, kNow, "Anna's Mac-Work"},
        {history / "vault-20260101T080000Z-Anna's MacBook.tlwvault", Date::fromUnix(1767254400),
         "Anna's MacBook"},
    };
    EXPECT_EQ(run(storage_->listSnapshots()), expected);
    EXPECT_EQ(run(storage_->readSnapshot(written)), toBytes("v1"));
    EXPECT_THROW((void)run(storage_->readSnapshot(history / "missing.tlwvault")),
                 std::system_error);

    // Two more versions on an old day: pruning keeps the newer one only.
    writeAll(history / "vault-20260201T090000Z-A.tlwvault", "morning");
    writeAll(history / "vault-20260201T180000Z-A.tlwvault", "evening");
    run(storage_->pruneHistory(kNow));
    EXPECT_FALSE(fs::exists(history / "vault-20260201T090000Z-A.tlwvault"));
    EXPECT_TRUE(fs::exists(history / "vault-20260201T180000Z-A.tlwvault"));
    EXPECT_TRUE(fs::exists(written));
}

TEST_F(VaultStorageTest, HistoryGoesToTheSharedDirectoryWithoutCloudDrive) {
    makeStorage(std::optional<fs::path>());
    run(storage_->waitForContainer(1h));
    run(storage_->writeHistoryVersion(toBytes("v1"), "Mac", kNow));
    EXPECT_EQ(readAll(shared_ / "History" / "vault-20260305T141503Z-Mac.tlwvault"), toBytes("v1"));
    EXPECT_EQ(run(storage_->listSnapshots()).size(), 1u);
}

TEST_F(VaultStorageTest, ChangesToTheCloudVaultReachOnRemoteChange) {
    fs::create_directories(documents_);
    writeAll(documents_ / "vault.tlwvault", "first");
    connectCloud();
    const auto expectNotified = [&](const char* step) {
        EXPECT_TRUE(processEventsUntil([&] { return remoteChanges_ > 0; })) << step;
        remoteChanges_ = 0;
    };

    std::ofstream(documents_ / "vault.tlwvault", std::ios::app) << "written in place";
    expectNotified("in-place write");
    writeAll(documents_ / "vault.tlwvault", "replaced");
    expectNotified("atomic replace");
    std::ofstream(documents_ / "vault.tlwvault", std::ios::app) << "again in place";
    expectNotified("in-place write to the replacement");
    fs::remove(documents_ / "vault.tlwvault");
    expectNotified("removal");
}

} // namespace
} // namespace tallowin
