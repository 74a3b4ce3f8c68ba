// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <system_error>

namespace tallowin {

/// Creates `folder` with mode 0700 (only its owner may look inside), together with any
/// missing parents (default mode). An existing folder is left as it is.
std::error_code createPrivateDirectories(const std::filesystem::path& folder);

} // namespace tallowin
