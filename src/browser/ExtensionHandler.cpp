// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/ExtensionHandler.h"

#include "browser/LearnedSites.h"
#include "browser/SiteMatching.h"
#include "core/Base32.h"
#include "core/Base64.h"
#include "core/CardPalette.h"
#include "core/DeviceKeyStore.h"
#include "core/FileIO.h"
#include "core/PasswordPolicy.h"
#include "core/SharedDefaults.h"
#include "core/Totp.h"
#include "core/Unicode.h"
#include "core/UnlockSession.h"
#include "core/VaultEnvelope.h"
#include "core/VaultError.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

namespace tallowin {

namespace {

Json noVaultReply() {
    return errorReply("noVault", "Open Tallowin to set up your vault.");
}
Json lockedReply() {
    return errorReply("locked", "Open Tallowin and unlock it with your master password.");
}
Json cancelledReply() {
    return errorReply("cancelled", "Authentication was cancelled.");
}

std::optional<VaultEnvelope> readLocalEnvelope(const std::filesystem::path& sharedDirectory) {
    Bytes bytes;
    if (readFile(sharedDirectory / "vault.tlwvault", bytes, kMaxVaultFileBytes)) {
        return std::nullopt;
    }
    try {
        return decodeEnvelope(bytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

/// Sorts live accounts for the reply: display name (issuer, else label), then label,
/// each localized and case-insensitive; then the id text. Collation keys are computed once
/// per account.
void sortForDisplay(std::vector<Account>& accounts) {
    struct Keyed {
        std::string name;
        std::string label;
        std::size_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(accounts.size());
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        const Account& account = accounts[i];
        keyed.push_back(
            {localizedCaseInsensitiveKey(account.issuer.empty() ? account.label : account.issuer),
             localizedCaseInsensitiveKey(account.label), i});
    }
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        if (const int byName = a.name.compare(b.name)) {
            return byName < 0;
        }
        if (const int byLabel = a.label.compare(b.label)) {
            return byLabel < 0;
        }
        return accounts[a.index].id <
               accounts[b.index].id; // UUID byte order is the order of its text
    });
    std::vector<Account> sorted;
    sorted.reserve(accounts.size());
    for (const Keyed& k : keyed) {
        sorted.push_back(std::move(accounts[k.index]));
    }
    accounts = std::move(sorted);
}

bool showServiceIcons(const SharedDefaults& defaults) {
    return defaults.boolean(kShowServiceIconsKey).value_or(true);
}

/// The cached service icons: file names found in sharedDirectory/Icons (read once per
/// reply, so accounts without an icon cost no file-system call).
class IconCache {
public:
    IconCache(const std::filesystem::path& sharedDirectory, bool enabled)
        : folder_(sharedDirectory / kIconsFolderName) {
        if (!enabled) {
            return;
        }
        std::error_code error;
        std::filesystem::create_directories(folder_, error);
        for (auto it = std::filesystem::directory_iterator(folder_, error);
             !error && it != std::filesystem::directory_iterator() && names_.size() < kMaxIconFiles;
             it.increment(error)) {
            names_.insert(it->path().filename().string());
        }
    }

    /// "data:image/png;base64,..." for the account's service, or empty text.
    [[nodiscard]] std::string dataURL(const Account& account) const {
        if (names_.empty()) {
            return {};
        }
        const auto domain = serviceDomain(account);
        if (!domain) {
            return {};
        }
        std::string fileName = *domain + ".png";
        std::replace(fileName.begin(), fileName.end(), '/', '_');
        Bytes png;
        if (!names_.contains(fileName) || readFile(folder_ / fileName, png, kMaxIconBytes)) {
            return {};
        }
        return "data:image/png;base64," + base64Encode(png);
    }

private:
    static constexpr std::size_t kMaxIconFiles = 100'000;
    std::filesystem::path folder_;
    std::set<std::string, std::less<>> names_;
};

/// Whole seconds since 1970, truncated toward zero; clamped so the step arithmetic
/// below cannot overflow on absurd clocks.
std::int64_t wholeUnixSeconds(Date now) {
    const double t = std::trunc(now.unixTime());
    constexpr double limit = 1e15;
    if (!std::isfinite(t)) {
        return 0;
    }
    return static_cast<std::int64_t>(std::clamp(t, -limit, limit));
}

Json accountEntry(const Account& account, std::span<const std::uint8_t> secret, std::int64_t t,
                  const MatchHost& host, const LearnedSites& learned, const IconCache& icons) {
    // At least 1; the upper clamp only keeps start + i * period from overflowing.
    const std::int64_t period = std::clamp<std::int64_t>(account.period, 1, std::int64_t{1} << 40);
    const std::int64_t start = t / period * period;
    Json codes = Json::array();
    codes.get_ref<Json::array_t&>().reserve(kCodesPerAccount);
    TotpGenerator generator(secret, account.algorithm, account.digits);
    for (int i = 0; i < kCodesPerAccount; ++i) {
        const std::int64_t stepStart = std::max<std::int64_t>(start + i * period, 0);
        codes.push_back(generator.code(static_cast<std::uint64_t>(stepStart / period)));
    }
    const auto colours = hexColours(account);
    Json entry = Json::object();
    entry["id"] = account.id.toString();
    entry["issuer"] = account.issuer.empty() ? account.label : account.issuer;
    entry["label"] = account.issuer.empty() ? std::string() : account.label;
    entry["score"] = host.host.empty() ? 0 : matchScore(account, host, learned);
    entry["period"] = period;
    entry["start"] = start;
    entry["codes"] = std::move(codes);
    entry["colors"] = Json::array({colours[0], colours[1]});
    entry["icon"] = icons.dataURL(account);
    return entry;
}

} // namespace

Json errorReply(std::string_view code, std::string_view message) {
    return Json{{"ok", false}, {"error", code}, {"message", message}};
}

Json accountsReply(std::string_view host, const ExtensionEnvironment& environment) {
    const auto envelope = readLocalEnvelope(environment.sharedDirectory);
    if (!envelope) {
        return noVaultReply();
    }
    const std::string h = normalizedHost(host);

    UnlockSession session(*environment.keychain, *environment.defaults, *environment.clock);
    std::optional<VaultKey> key = session.load();
    if (key && key->id != envelope->keyID) {
        key.reset(); // a session for another vault: ignore it
    }
    if (!key) {
        DeviceKeyStore deviceKeys(*environment.keychain, *environment.biometrics);
        if (!deviceKeys.exists() || !passwordEntryIsRecent(lastPasswordEntry(*environment.defaults),
                                                           environment.clock->now())) {
            return lockedReply();
        }
        const std::string reason = h.empty() ? "fill a 2FA code" : "fill a 2FA code on " + h;
        try {
            key = deviceKeys.load(reason);
        } catch (const std::exception&) {
            return cancelledReply();
        }
        session.save(*key);
    }

    std::vector<Account> accounts;
    try {
        accounts = openContents(*envelope, *key);
    } catch (const std::exception&) {
        return lockedReply();
    }

    const LearnedSites learned = loadLearnedSites(environment.sharedDirectory);
    const Date now = environment.clock->now();
    const std::int64_t t = wholeUnixSeconds(now);
    const IconCache icons(environment.sharedDirectory, showServiceIcons(*environment.defaults));

    std::erase_if(accounts, [](const Account& account) { return isDeleted(account); });
    sortForDisplay(accounts);
    const MatchHost matchHost(h);

    Json entries = Json::array();
    entries.get_ref<Json::array_t&>().reserve(accounts.size());
    for (const Account& account : accounts) {
        auto secret = base32Decode(account.secret);
        if (!secret) {
            continue;
        }
        const SecretBytes secretBytes(*secret);
        OPENSSL_cleanse(secret->data(), secret->size());
        entries.push_back(accountEntry(account, secretBytes.span(), t, matchHost, learned, icons));
    }
    return Json{{"ok", true}, {"host", h}, {"accounts", std::move(entries)}};
}

Json handleExtensionMessage(const Json& request, const ExtensionEnvironment& environment) {
    const auto member = [&](const char* name) -> const Json* {
        if (!request.is_object()) {
            return nullptr;
        }
        const auto it = request.find(name);
        return it != request.end() && it->is_string() ? &*it : nullptr;
    };
    const Json* type = member("type");
    if (type && *type == "accounts") {
        const Json* host = member("host");
        return accountsReply(host ? host->get_ref<const std::string&>() : std::string_view(),
                             environment);
    }
    if (type && *type == "remember") {
        const Json* host = member("host");
        const Json* id = member("id");
        if (host && id) {
            rememberSite(environment.sharedDirectory, host->get_ref<const std::string&>(),
                         id->get_ref<const std::string&>());
        }
        return Json{{"ok", true}};
    }
    return errorReply("unknown", "Unknown request.");
}

} // namespace tallowin
