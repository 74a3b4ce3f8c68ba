// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The compiled-in tables of site matching: well-known services and their domains, the
// public suffixes under which a registrable domain has three labels, and the words that
// never count as service keywords. Built once, on first use; never changed afterwards.

#include <set>
#include <string_view>
#include <vector>

namespace tallowin {

/// One service: its lower-case name and its web domains, main domain first.
struct ServiceEntry {
    std::string_view name;
    std::vector<std::string_view> domains;
};

/// The 54 services, in table order. Names with a space or a dot only ever match a whole
/// issuer, never a single word of it.
[[nodiscard]] const std::vector<ServiceEntry>& serviceCatalogue();

/// The domains of the service named exactly `name` (lower case), or nullptr when the
/// catalogue has no such name.
[[nodiscard]] const std::vector<std::string_view>* catalogueDomains(std::string_view name);

/// The 15 public suffixes of two labels ("co.uk", "com.au", ...).
[[nodiscard]] const std::set<std::string_view>& twoLabelSuffixes();

/// The 24 words never used as service keywords ("com", "login", "services", ...).
[[nodiscard]] const std::set<std::string_view>& keywordStopWords();

} // namespace tallowin
