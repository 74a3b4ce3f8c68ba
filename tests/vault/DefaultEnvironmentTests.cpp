// SPDX-License-Identifier: GPL-3.0-or-later
#include "TempFolder.h"
#include "core/SharedDefaults.h"
#include "platform/SyncFolderCloudDrive.h"
#include "vault/DefaultEnvironment.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

namespace fs = std::filesystem;

TEST(DefaultEnvironment, SyncFolderComesFromTheSettingsAndIsReadEveryTime) {
    test::TempFolder root;
    SharedDefaults defaults(root.path() / "settings.json");
    EXPECT_EQ(syncFolderSetting(defaults), std::nullopt); // no settings file

    ASSERT_FALSE(defaults.setString(kSyncFolderSettingKey, (root.path() / "Sync").string()));
    EXPECT_EQ(syncFolderSetting(defaults), root.path() / "Sync");

    // The drive built on it finds the container once the folder exists.
    fs::create_directories(root.path() / "Sync");
    SyncFolderCloudDrive drive([&defaults] { return syncFolderSetting(defaults); });
    EXPECT_EQ(drive.lookupContainer(), root.path() / "Sync" / "iCloud.com.tallowin.app");

    for (const Json& off : {Json(""), Json(42), Json(nullptr)}) {
        ASSERT_FALSE(defaults.set(kSyncFolderSettingKey, off));
        EXPECT_EQ(syncFolderSetting(defaults), std::nullopt) << off.dump();
        EXPECT_EQ(drive.lookupContainer(), std::nullopt);
    }
}

TEST(DefaultEnvironment, ComputerNameIsNeverEmpty) {
    EXPECT_FALSE(hostComputerName().empty());
}

} // namespace
} // namespace tallowin
