// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace tallowin {

/// Name of the cloud container folder; the vault lives in its "Documents" folder.
inline constexpr std::string_view kCloudContainerIdentifier = "iCloud.com.tallowin.app";

/// The cloud drive that keeps the vault in step across the user's machines.
class CloudDrive {
public:
    virtual ~CloudDrive() = default;

    /// The container folder, or none when the cloud drive is off. May take long or never
    /// return (a hung network mount), so callers run it on a thread of its own; it must be
    /// safe to call from any thread.
    [[nodiscard]] virtual std::optional<std::filesystem::path> lookupContainer() = 0;
};

} // namespace tallowin
