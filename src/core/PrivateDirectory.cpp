// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PrivateDirectory.h"

#include <cerrno>
#include <sys/stat.h>

namespace tallowin {

std::error_code createPrivateDirectories(const std::filesystem::path& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) {
        return {};
    }
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        std::filesystem::create_directories(folder.parent_path(), error);
        if (error) {
            return error;
        }
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {errno, std::generic_category()};
    }
    return {};
}

} // namespace tallowin
