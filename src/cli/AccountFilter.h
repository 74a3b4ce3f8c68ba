// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Account.h"

#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

/// The search text with white space trimmed from both ends.
[[nodiscard]] std::string searchQuery(std::string_view text);

/// Whether the account's issuer, label or one of its websites contains the (trimmed) query,
/// ignoring letter case. An empty query matches every account.
[[nodiscard]] bool matchesSearch(const Account& account, std::string_view query);

/// The accounts that match, in the order given.
[[nodiscard]] std::vector<Account> filterAccounts(const std::vector<Account>& accounts,
                                                  std::string_view query);

} // namespace tallowin
