// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Hosts on which the user picked an account in a browser. The companions add them to
// "learned-sites.json" in the shared directory; the application folds them into the
// accounts' websites and removes the file. The file is written by other processes and
// is read as untrusted input: nothing here fails, and a file that isn't exactly a map
// from host to a list of id texts, or is larger than kMaxLearnedSitesBytes, reads as
// empty.

#include "core/Account.h"
#include "core/Date.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

/// Host (as normalizedHost gives it) to the upper-case ids of the accounts chosen there.
using LearnedSites = std::map<std::string, std::vector<std::string>, std::less<>>;

inline constexpr std::string_view kLearnedSitesFileName = "learned-sites.json";
/// Larger files are not read.
inline constexpr std::size_t kMaxLearnedSitesBytes = 1u << 20;
/// Longer host texts are neither remembered nor absorbed (the DNS limit).
inline constexpr std::size_t kMaxLearnedHostBytes = 253;

/// The map in `text`. Anything but one JSON object whose every member is an array of
/// strings gives an empty map; so does text longer than kMaxLearnedSitesBytes.
[[nodiscard]] LearnedSites decodeLearnedSites(std::string_view text);

/// Compact JSON of the map. Its members come out sorted by host; member order carries
/// no meaning in the file.
[[nodiscard]] std::string encodeLearnedSites(const LearnedSites& sites);

/// The map in sharedDirectory/"learned-sites.json"; empty when the file is missing,
/// unreadable, too large or undecodable.
[[nodiscard]] LearnedSites loadLearnedSites(const std::filesystem::path& sharedDirectory);

/// Records that the user chose account `id` on `host`: adds the id (as its canonical
/// upper-case text) to the list under normalizedHost(host) unless it is there, and
/// rewrites the file atomically (mode 0600). Does nothing for an empty or overlong host,
/// an id that is not a UUID, or when the file would grow beyond kMaxLearnedSitesBytes.
/// Errors are swallowed.
void rememberSite(const std::filesystem::path& sharedDirectory, std::string_view host,
                  std::string_view id);

struct AbsorbResult {
    std::vector<Account> accounts;
    bool changed = false; ///< some account gained a website
};

/// Folds the learned hosts into the accounts (deleted ones included): each host listed
/// under an account's id is appended to its websites unless already there, stamping
/// `updatedAt` = now and `updatedBy` = deviceID. Then the learned file is removed.
///
/// The file is first renamed aside to a unique name and only that copy is read and
/// deleted, so a host that a companion remembers meanwhile lands in a new
/// "learned-sites.json" and waits for the next call. Copies left aside by an earlier
/// call that did not finish are absorbed (and removed) too. Undecodable copies are
/// removed. Never fails.
[[nodiscard]] AbsorbResult absorbLearnedSites(const std::filesystem::path& sharedDirectory,
                                              std::vector<Account> accounts, Date now,
                                              const std::string& deviceID);

/// The same, running `afterSetAside` once the file has been moved aside: tests use it
/// to write the file the way a companion would in the middle of an absorb.
[[nodiscard]] AbsorbResult absorbLearnedSites(const std::filesystem::path& sharedDirectory,
                                              std::vector<Account> accounts, Date now,
                                              const std::string& deviceID,
                                              const std::function<void()>& afterSetAside);

} // namespace tallowin
