// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tallowin {

/// Whether `fileName` is a conflict copy of "vault.tlwvault" that a sync tool left beside it:
/// - Syncthing: "vault.sync-conflict-20260305-141503-ABCDEF1.tlwvault" (device part optional);
/// - Nextcloud / ownCloud: "vault (conflicted copy 2026-03-05 141503).tlwvault", possibly with
///   a user name before the date, and ownCloud's older "vault_conflict-20260305-141503.tlwvault";
/// - Dropbox: "vault (Anna's conflicted copy 2026-03-05).tlwvault", possibly followed by " (1)".
/// The vault itself, history versions and temporary files never match.
[[nodiscard]] bool isConflictCopyName(std::string_view fileName);

} // namespace tallowin
