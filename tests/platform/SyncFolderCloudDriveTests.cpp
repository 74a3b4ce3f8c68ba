// SPDX-License-Identifier: GPL-3.0-or-later
#include "../vault/TempFolder.h"
#include "platform/SyncFolderCloudDrive.h"

#include <fstream>
#include <gtest/gtest.h>

namespace tallowin {
namespace {

namespace fs = std::filesystem;

TEST(SyncFolderCloudDrive, NoUsableFolderMeansCloudDriveOff) {
    test::TempFolder root;
    std::ofstream(root.path() / "file") << "x";
    const std::vector<std::optional<fs::path>> choices = {
        std::nullopt, fs::path(), fs::path("relative/folder"), root.path() / "missing",
        root.path() / "file"};
    for (const std::optional<fs::path>& choice : choices) {
        SyncFolderCloudDrive drive([choice] { return choice; });
        EXPECT_EQ(drive.lookupContainer(), std::nullopt) << choice.value_or("(none)");
    }
    EXPECT_EQ(SyncFolderCloudDrive(nullptr).lookupContainer(), std::nullopt);
}

TEST(SyncFolderCloudDrive, ContainerAndDocumentsAreCreatedInTheChosenFolder) {
    test::TempFolder root;
    fs::create_directory(root.path() / "Sync");
    fs::create_directory_symlink(root.path() / "Sync", root.path() / "link");
    for (const fs::path& folder : {root.path() / "Sync", root.path() / "link"}) {
        SyncFolderCloudDrive drive([folder] { return folder; });
        EXPECT_EQ(drive.lookupContainer(), folder / "iCloud.com.tallowin.app");
        EXPECT_TRUE(fs::is_directory(folder / "iCloud.com.tallowin.app" / "Documents"));
    }
}

} // namespace
} // namespace tallowin
