// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small helpers shared by the command files.

#include "core/Account.h"
#include "core/Date.h"

#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

/// The account whose id is `text` or starts with it (any letter case, at least 4
/// characters). Throws CommandError when none or several match.
[[nodiscard]] const Account& accountWithID(const std::vector<Account>& accounts,
                                           std::string_view text);

/// The issuer, else the label, else "Untitled"; with the label in brackets when both exist.
[[nodiscard]] std::string accountDescription(const Account& account);

/// "2026-03-09 14:15:03" in the machine's time zone; "unknown" for a date out of range.
[[nodiscard]] std::string localDateTime(Date date);

} // namespace tallowin
