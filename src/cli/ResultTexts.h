// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one-line results the screens show after adding, restoring and exporting, so the
// command line reports outcomes in the same words.

#include "core/Date.h"
#include "vault/VaultStore.h"

#include <optional>
#include <string>

namespace tallowin {

/// The add-account result: "Added 2 accounts · 1 already in Tallowin · 1 link couldn't be
/// read" (the parts that apply), or "Nothing to add." when every count is 0.
[[nodiscard]] std::string addResultText(int added, int existing, int unreadable);

/// "Already up to date" for 0, else "Restored 1 account" / "Restored 3 accounts".
[[nodiscard]] std::string restoreResultText(int restored);

/// "Exported 3 accounts."
[[nodiscard]] std::string exportResultText(int exported);

/// Days a deleted account stays restorable, as "12 days left"; none without `deletedAt`.
[[nodiscard]] std::optional<std::string> remainingDaysText(const Account& account, Date now);

/// The sync status line of the settings screen, with `lastSynced` given relative to `now`.
[[nodiscard]] std::string syncStatusLine(const SyncStatus& status, std::optional<Date> lastSynced,
                                         bool waitingForCloud, Date now);

} // namespace tallowin
