// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Bytes.h"

#include <filesystem>
#include <optional>
#include <span>
#include <sys/types.h>
#include <system_error>

namespace tallowin {

/// Mode for files that hold secrets or vault data.
inline constexpr mode_t kPrivateFileMode = 0600;

/// Replaces `path` atomically: writes a temporary file in the same folder (created with
/// `mode`), fsyncs it, renames it over `path`, then fsyncs the folder. Readers see the
/// old or the new content, never a mix. The folder must exist.
[[nodiscard]] std::error_code writeFileAtomically(const std::filesystem::path& path,
                                                  std::span<const std::uint8_t> bytes,
                                                  mode_t mode = kPrivateFileMode);

/// Reads a whole regular file, refusing files larger than `maxBytes` (EFBIG). A missing
/// file gives ENOENT.
[[nodiscard]] std::error_code readFile(const std::filesystem::path& path, Bytes& out,
                                       std::size_t maxBytes);

/// Upper bound for vault, backup and history files read from disk.
inline constexpr std::size_t kMaxVaultFileBytes = 64u << 20;

} // namespace tallowin
