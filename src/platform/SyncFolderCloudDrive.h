// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/CloudDrive.h"

#include <functional>

namespace tallowin {

/// Settings key that holds the sync folder the user chose (absent or empty: cloud drive off).
inline constexpr std::string_view kSyncFolderSettingKey = "syncFolder";

/// The cloud drive on Linux: a folder that a file-sync tool (Syncthing, Nextcloud, Dropbox,
/// a network mount) keeps in step across the user's machines. The container is the folder
/// "iCloud.com.tallowin.app" inside it.
class SyncFolderCloudDrive final : public CloudDrive {
public:
    /// Yields the chosen sync folder; called on the lookup thread at every lookup.
    using SyncFolderSource = std::function<std::optional<std::filesystem::path>()>;

    explicit SyncFolderCloudDrive(SyncFolderSource syncFolder);

    /// The container inside the sync folder when that folder is an existing directory given
    /// by an absolute path; the container and its "Documents" folder are created on demand
    /// (a failure to create them shows later, when the vault is read or written).
    [[nodiscard]] std::optional<std::filesystem::path> lookupContainer() override;

private:
    SyncFolderSource syncFolder_;
};

} // namespace tallowin
