// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Account.h"
#include "core/Date.h"

#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

/// The issuer with every plus sign that stood for a space (in a form-encoded setup link)
/// turned into one: a '+' that is neither the first nor the last character and whose
/// neighbours on both sides are neither '+' nor white space. "Acme+Corp" becomes
/// "Acme Corp"; "C++", "+Plus" and "A + B" stay as they are.
[[nodiscard]] std::string repairedIssuer(std::string_view issuer);

/// Repairs the issuers of the live accounts; each account whose issuer changed is stamped
/// with `now` and `deviceID`. Deleted accounts are left alone.
[[nodiscard]] std::vector<Account> repairIssuers(std::vector<Account> accounts, Date now,
                                                 std::string_view deviceID);

} // namespace tallowin
