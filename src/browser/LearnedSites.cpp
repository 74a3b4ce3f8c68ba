// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/LearnedSites.h"

#include "browser/BoundedJSON.h"
#include "browser/SiteMatching.h"
#include "core/FileIO.h"
#include "core/RandomSource.h"
#include "core/Uuid.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace tallowin {

namespace {

namespace fs = std::filesystem;

/// Copies of the file taken aside for absorbing: the prefix, then 32 random hex digits.
constexpr std::string_view kAsidePrefix = "learned-sites.absorbing-";

fs::path learnedSitesPath(const fs::path& sharedDirectory) {
    return sharedDirectory / kLearnedSitesFileName;
}

/// Copies left aside by absorbs that did not finish, in name order.
std::vector<fs::path> leftoverAsideFiles(const fs::path& sharedDirectory) {
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(sharedDirectory, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename().string().starts_with(kAsidePrefix)) {
            found.push_back(it->path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

/// Moves "learned-sites.json" to a fresh unique name and returns that name; nothing when
/// there is no file (or it cannot be moved). The name is random rather than reserved
/// beforehand: an empty placeholder would look to another absorber like a leftover copy,
/// which it would read, find empty and remove just before this rename filled it.
std::optional<fs::path> setAside(const fs::path& sharedDirectory) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name(kAsidePrefix);
    for (const std::uint8_t byte : randomBytes(16)) {
        name.push_back(kHex[byte >> 4]);
        name.push_back(kHex[byte & 0x0F]);
    }
    const fs::path aside = sharedDirectory / name;
    if (std::rename(learnedSitesPath(sharedDirectory).c_str(), aside.c_str()) != 0) {
        return std::nullopt;
    }
    return aside;
}

/// Reads one copy; `consumed` tells whether it may be removed afterwards: it was read,
/// or it can never be (too large, not a regular file). A copy that failed to read for
/// another reason stays for the next absorb.
LearnedSites readAside(const fs::path& path, bool& consumed) {
    Bytes bytes;
    const std::error_code error = readFile(path, bytes, kMaxLearnedSitesBytes);
    consumed = !error || error == std::errc::file_too_large || error == std::errc::invalid_argument;
    return error ? LearnedSites{} : decodeLearnedSites(toString(bytes));
}

bool usableHost(const std::string& host) {
    return host.size() <= kMaxLearnedHostBytes && !normalizedHost(host).empty();
}

} // namespace

LearnedSites decodeLearnedSites(std::string_view text) {
    if (text.size() > kMaxLearnedSitesBytes) {
        return {};
    }
    // An object of arrays of strings: nothing nests deeper than two levels.
    const std::optional<Json> value = parseBoundedJSON(text, 2);
    if (!value || !value->is_object()) {
        return {};
    }
    LearnedSites sites;
    for (const auto& [host, ids] : value->items()) {
        if (!ids.is_array()) {
            return {};
        }
        std::vector<std::string> list;
        list.reserve(ids.size());
        for (const auto& id : ids) {
            if (!id.is_string()) {
                return {};
            }
            list.push_back(id.get<std::string>());
        }
        sites.emplace(host, std::move(list));
    }
    return sites;
}

std::string encodeLearnedSites(const LearnedSites& sites) {
    Json object = Json::object();
    for (const auto& [host, ids] : sites) {
        object[host] = ids;
    }
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

LearnedSites loadLearnedSites(const fs::path& sharedDirectory) {
    Bytes bytes;
    if (readFile(learnedSitesPath(sharedDirectory), bytes, kMaxLearnedSitesBytes)) {
        return {};
    }
    return decodeLearnedSites(toString(bytes));
}

void rememberSite(const fs::path& sharedDirectory, std::string_view host, std::string_view id) {
    const std::string h = normalizedHost(host);
    const std::optional<Uuid> uuid = Uuid::parse(id);
    if (h.empty() || h.size() > kMaxLearnedHostBytes || !uuid) {
        return;
    }
    const std::string idText = uuid->toString();
    LearnedSites sites = loadLearnedSites(sharedDirectory);
    auto& list = sites[h];
    if (std::find(list.begin(), list.end(), idText) != list.end()) {
        return; // already known: the file would not change
    }
    list.push_back(idText);
    const std::string encoded = encodeLearnedSites(sites);
    if (encoded.size() > kMaxLearnedSitesBytes) {
        return; // a larger file would no longer be read, losing every entry in it
    }
    (void)writeFileAtomically(learnedSitesPath(sharedDirectory), toBytes(encoded),
                              kPrivateFileMode);
}

AbsorbResult absorbLearnedSites(const fs::path& sharedDirectory, std::vector<Account> accounts,
                                Date now, const std::string& deviceID) {
    return absorbLearnedSites(sharedDirectory, std::move(accounts), now, deviceID, {});
}

AbsorbResult absorbLearnedSites(const fs::path& sharedDirectory, std::vector<Account> accounts,
                                Date now, const std::string& deviceID,
                                const std::function<void()>& afterSetAside) {
    std::vector<fs::path> files = leftoverAsideFiles(sharedDirectory);
    if (auto aside = setAside(sharedDirectory)) {
        files.push_back(std::move(*aside));
    }
    if (afterSetAside) {
        afterSetAside();
    }

    std::unordered_map<std::string, std::size_t> indexByID;
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        indexByID.emplace(accounts[i].id.toString(), i);
    }
    bool changed = false;
    std::vector<fs::path> consumedFiles;
    for (const auto& file : files) {
        bool consumed = false;
        const LearnedSites sites = readAside(file, consumed);
        if (consumed) {
            consumedFiles.push_back(file);
        }
        for (const auto& [host, ids] : sites) {
            if (!usableHost(host)) {
                continue;
            }
            for (const auto& id : ids) {
                const auto found = indexByID.find(id);
                if (found == indexByID.end()) {
                    continue;
                }
                Account& account = accounts[found->second];
                if (std::find(account.websites.begin(), account.websites.end(), host) !=
                    account.websites.end()) {
                    continue;
                }
                account.websites.push_back(host);
                account.updatedAt = now;
                account.updatedBy = deviceID;
                changed = true;
            }
        }
    }
    for (const auto& file : consumedFiles) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    return {std::move(accounts), changed};
}

} // namespace tallowin
