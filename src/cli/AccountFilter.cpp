// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/AccountFilter.h"

#include "core/Unicode.h"

#include <algorithm>

namespace tallowin {

namespace {

constexpr std::string_view kWhiteSpace = " \t\n\r\v\f";

// Case-folded and composed, so that "É" typed one way finds "é" stored the other way.
std::string folded(std::string_view text) {
    return toLower(toNFC(text));
}

} // namespace

std::string searchQuery(std::string_view text) {
    const auto first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kWhiteSpace);
    return std::string(text.substr(first, last - first + 1));
}

bool matchesSearch(const Account& account, std::string_view query) {
    const std::string needle = folded(searchQuery(query));
    if (needle.empty()) {
        return true;
    }
    const auto contains = [&](std::string_view text) {
        return folded(text).find(needle) != std::string::npos;
    };
    return contains(account.issuer) || contains(account.label) ||
           std::any_of(account.websites.begin(), account.websites.end(), contains);
}

std::vector<Account> filterAccounts(const std::vector<Account>& accounts, std::string_view query) {
    std::vector<Account> shown;
    std::copy_if(accounts.begin(), accounts.end(), std::back_inserter(shown),
                 [&](const Account& account) { return matchesSearch(account, query); });
    return shown;
}

} // namespace tallowin
