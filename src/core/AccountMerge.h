// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Combining several versions of the account list (the local copy, the cloud copy, the
// conflict copies) into one, account by account.

#include "core/Account.h"
#include "core/Date.h"

#include <span>
#include <string>
#include <vector>

namespace tallowin {

/// How long a deleted account stays in Recently Deleted before a merge drops it: 30 days.
inline constexpr double kDeletedAccountRetentionSeconds = 2'592'000;

/// The user-visible content of an account: issuer, label, secret, algorithm, digits,
/// period, colour ("-1" when none) and the websites joined by ",", separated by U+001F.
/// Leaves out the id, every date, `updatedBy` and `deletedAt`.
[[nodiscard]] std::string contentFingerprint(const Account& account);

/// Which of two versions of the same account a merge keeps, `existing` being the one
/// already taken and `incoming` the one met later: the later `updatedAt`; else the
/// greater `updatedBy` in plain string order; else the live one over a deleted one;
/// else the greater content fingerprint in plain string order; else `existing`.
/// Returns a reference to one of its arguments.
[[nodiscard]] const Account& resolveConflict(const Account& existing, const Account& incoming);
// The result refers to an argument, so temporaries would leave it dangling.
const Account& resolveConflict(const Account&&, const Account&) = delete;
const Account& resolveConflict(const Account&, const Account&&) = delete;
const Account& resolveConflict(const Account&&, const Account&&) = delete;

/// Merges account lists, walked in order, each from front to back: one account per id,
/// chosen by `resolveConflict`. Deleted accounts whose `deletedAt` lies 30 days or more
/// before `now` are dropped. The result is ordered by `createdAt`, then by id.
[[nodiscard]] std::vector<Account> mergeAccounts(std::span<const std::vector<Account>* const> lists,
                                                 Date now);
[[nodiscard]] std::vector<Account> mergeAccounts(const std::vector<std::vector<Account>>& lists,
                                                 Date now);

} // namespace tallowin
