// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SyncFolderCloudDrive.h"

#include <system_error>

namespace tallowin {

SyncFolderCloudDrive::SyncFolderCloudDrive(SyncFolderSource syncFolder)
    : syncFolder_(std::move(syncFolder)) {}

std::optional<std::filesystem::path> SyncFolderCloudDrive::lookupContainer() {
    const std::optional<std::filesystem::path> folder = syncFolder_ ? syncFolder_() : std::nullopt;
    // A relative path would depend on the working directory: treat it as no choice.
    if (!folder || folder->empty() || !folder->is_absolute()) {
        return std::nullopt;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(*folder, error)) {
        return std::nullopt;
    }
    std::filesystem::path container = *folder / kCloudContainerIdentifier;
    std::filesystem::create_directories(container / "Documents", error);
    return container;
}

} // namespace tallowin
