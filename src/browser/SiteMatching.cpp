// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/SiteMatching.h"

#include "browser/ServiceCatalogue.h"
#include "core/PercentEncoding.h"
#include "core/TextCodes.h"
#include "core/Unicode.h"

#include <algorithm>
#include <array>
#include <uriparser/Uri.h>

namespace tallowin {

namespace {

// Unicode white space without line breaks (general category Zs plus tab).
constexpr std::array<std::string_view, 18> kSpaces{
    "\t",     " ",      "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004",
    "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200A", "\u202F", "\u205F", "\u3000",
};
constexpr std::array<std::string_view, 7> kLineBreaks{
    "\n", "\v", "\f", "\r", "\u0085", "\u2028", "\u2029",
};

template <std::size_t N>
std::size_t prefixLength(std::string_view text, const std::array<std::string_view, N>& set) {
    for (const auto candidate : set) {
        if (text.starts_with(candidate)) {
            return candidate.size();
        }
    }
    return 0;
}

template <std::size_t N>
std::size_t suffixLength(std::string_view text, const std::array<std::string_view, N>& set) {
    for (const auto candidate : set) {
        if (text.ends_with(candidate)) {
            return candidate.size();
        }
    }
    return 0;
}

std::string_view trimmed(std::string_view text, bool lineBreaksToo) {
    for (;;) {
        std::size_t n = prefixLength(text, kSpaces);
        if (n == 0 && lineBreaksToo) {
            n = prefixLength(text, kLineBreaks);
        }
        if (n == 0) {
            break;
        }
        text.remove_prefix(n);
    }
    for (;;) {
        std::size_t n = suffixLength(text, kSpaces);
        if (n == 0 && lineBreaksToo) {
            n = suffixLength(text, kLineBreaks);
        }
        if (n == 0) {
            break;
        }
        text.remove_suffix(n);
    }
    return text;
}

/// Pieces of `text` between dots, empty ones dropped.
std::vector<std::string_view> labels(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t dot = std::min(text.find('.', start), text.size());
        if (dot > start) {
            out.push_back(text.substr(start, dot - start));
        }
        start = dot + 1;
    }
    return out;
}

std::string joined(std::span<const std::string_view> pieces) {
    std::string out;
    for (const auto piece : pieces) {
        if (!out.empty()) {
            out.push_back('.');
        }
        out.append(piece);
    }
    return out;
}

/// The host part of a URL, or nothing when the text is no URL or has no host. The
/// parser only takes ASCII, so other bytes travel percent-encoded and are decoded again
/// in the host (an internationalised host comes back as typed).
std::optional<std::string> urlHost(const std::string& text) {
    // Without "scheme:" or a leading "//" there is no authority, hence no host.
    if (text.find(':') == std::string::npos && !text.starts_with("//")) {
        return std::nullopt;
    }
    std::string ascii;
    ascii.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            ascii.push_back(c);
        } else {
            static constexpr char hex[] = "0123456789ABCDEF";
            ascii.push_back('%');
            ascii.push_back(hex[byte >> 4]);
            ascii.push_back(hex[byte & 0x0F]);
        }
    }
    UriUriA uri;
    const char* errorPos = nullptr;
    if (uriParseSingleUriExA(&uri, ascii.data(), ascii.data() + ascii.size(), &errorPos) !=
        URI_SUCCESS) {
        // Pages put brackets, bars or stray percent signs in their paths and queries, which
        // the strict grammar refuses; the host only needs the part up to the authority's end.
        const std::size_t scheme = ascii.find("//");
        const std::size_t end =
            scheme == std::string::npos ? scheme : ascii.find_first_of("/?#", scheme + 2);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        ascii.resize(end);
        if (uriParseSingleUriExA(&uri, ascii.data(), ascii.data() + ascii.size(), &errorPos) !=
            URI_SUCCESS) {
            return std::nullopt;
        }
    }
    std::optional<std::string> host;
    if (uri.hostText.first != nullptr && uri.hostText.afterLast > uri.hostText.first) {
        const std::string_view raw(
            uri.hostText.first,
            static_cast<std::size_t>(uri.hostText.afterLast - uri.hostText.first));
        std::string decoded;
        decoded.reserve(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '%' && i + 2 < raw.size()) {
                const int high = hexDigitValue(raw[i + 1]);
                const int low = hexDigitValue(raw[i + 2]);
                if (high >= 8 && low >= 0) {
                    decoded.push_back(static_cast<char>(high << 4 | low));
                    i += 2;
                    continue;
                }
            }
            decoded.push_back(raw[i]);
        }
        // Escapes typed into the host itself may stand for bytes that are no UTF-8 text;
        // such a host is kept as written.
        host = isValidUTF8(decoded) ? std::move(decoded) : std::string(raw);
    }
    uriFreeUriMembersA(&uri);
    return host;
}

std::size_t characterCount(std::string_view text) {
    return scalars(text).size();
}

/// `n` (already a normalised host) fits host `h`: equal, or a parent domain of it.
bool fitsNormalized(std::string_view n, std::string_view h) {
    if (n.empty()) {
        return false;
    }
    return n == h || (h.size() > n.size() && h.ends_with(n) && h[h.size() - n.size() - 1] == '.');
}

bool fits(std::string_view domain, std::string_view h) {
    return fitsNormalized(normalizedHost(domain), h);
}

bool anyFits(const std::vector<std::string_view>& domains, std::string_view h) {
    return std::any_of(domains.begin(), domains.end(),
                       [&](std::string_view d) { return fitsNormalized(d, h); });
}

bool learnedContains(const LearnedSites& learned, std::string_view host, std::string_view id) {
    const auto it = learned.find(host);
    return it != learned.end() &&
           std::find(it->second.begin(), it->second.end(), id) != it->second.end();
}

/// The issuer as a catalogue key: lower-cased, spaces trimmed.
std::string catalogueKey(std::string_view issuer) {
    return std::string(trimmed(toLower(issuer), false));
}

} // namespace

std::string normalizedHost(std::string_view text) {
    const std::string lowered = toLower(text);
    std::string host(trimmed(lowered, true));
    if (auto fromURL = urlHost(host)) {
        host = std::move(*fromURL);
    }
    if (host.starts_with("www.")) {
        host.erase(0, 4);
    }
    return host;
}

std::string registrableDomain(std::string_view text) {
    const std::string host = normalizedHost(text);
    const auto parts = labels(host);
    if (parts.size() < 3) {
        return joined(parts);
    }
    const auto lastTwo = std::span(parts).last(2);
    if (twoLabelSuffixes().contains(joined(lastTwo))) {
        return joined(std::span(parts).last(3));
    }
    return joined(lastTwo);
}

std::vector<std::string> serviceKeywords(std::string_view text) {
    std::vector<std::string> keywords;
    for (auto& piece : splitAtNonAlphanumerics(toLower(text))) {
        if (characterCount(piece) >= 3 && !keywordStopWords().contains(piece)) {
            keywords.push_back(std::move(piece));
        }
    }
    return keywords;
}

std::optional<std::string> domainFromText(std::string_view text) {
    const std::string domain = toLower(trimmed(text, false));
    if (domain.find_first_of(" @") != std::string::npos || domain.find('.') == std::string::npos) {
        return std::nullopt;
    }
    // ^[a-z0-9-]+(\.[a-z0-9-]+)+$ without a regex engine: no empty label anywhere.
    const bool shaped =
        !domain.starts_with('.') && !domain.ends_with('.') &&
        domain.find("..") == std::string::npos &&
        std::all_of(domain.begin(), domain.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        });
    if (!shaped) {
        return std::nullopt;
    }
    const std::string_view last = labels(domain).back();
    if (last.size() < 2 ||
        !std::all_of(last.begin(), last.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
        return std::nullopt;
    }
    return domain;
}

std::optional<std::string> serviceDomain(const Account& account) {
    if (!account.websites.empty()) {
        if (std::string host = normalizedHost(account.websites.front()); !host.empty()) {
            return host;
        }
    }
    if (auto domain = domainFromText(account.issuer)) {
        return domain;
    }
    if (account.label.find(':') != std::string::npos) {
        std::string_view rest = account.label;
        while (!rest.empty()) {
            const std::size_t colon = std::min(rest.find(':'), rest.size());
            if (colon > 0) {
                if (auto domain = domainFromText(rest.substr(0, colon))) {
                    return domain;
                }
                break;
            }
            rest.remove_prefix(std::min(colon + 1, rest.size()));
        }
    }
    const std::string key = catalogueKey(account.issuer);
    if (const auto* domains = catalogueDomains(key); domains && !domains->empty()) {
        return std::string(domains->front());
    }
    for (const auto& piece : splitAtNonAlphanumerics(key)) {
        if (piece.empty()) {
            continue;
        }
        if (const auto* domains = catalogueDomains(piece); domains && !domains->empty()) {
            return std::string(domains->front());
        }
    }
    return std::nullopt;
}

MatchHost::MatchHost(std::string_view text)
    : host(normalizedHost(text)), registrable(registrableDomain(host)) {
    const auto regLabels = labels(registrable);
    firstLabel = regLabels.empty() ? registrable : std::string(regLabels.front());
    auto hostLabels = labels(host);
    if (!hostLabels.empty()) {
        hostLabels.pop_back();
    }
    siteLabels.assign(hostLabels.begin(), hostLabels.end());
}

int matchScore(const Account& account, std::string_view host, const LearnedSites& learned) {
    return matchScore(account, MatchHost(host), learned);
}

int matchScore(const Account& account, const MatchHost& prepared, const LearnedSites& learned) {
    const std::string& h = prepared.host;
    if (h.empty()) {
        return 0;
    }
    const std::string& reg = prepared.registrable;
    const std::string id = account.id.toString();

    int score = 0;
    if (std::any_of(account.websites.begin(), account.websites.end(),
                    [&](const std::string& site) { return fits(site, h); })) {
        return 100;
    }
    // An empty registrable domain (a host made only of dots) is written in every text;
    // it must not count as evidence.
    if (learnedContains(learned, h, id) || (!reg.empty() && learnedContains(learned, reg, id))) {
        score = std::max(score, 95);
    }
    const std::string name = toLower(account.issuer + " " + account.label);
    if (name.find(h) != std::string::npos) {
        score = std::max(score, 90);
    }
    if (const auto* domains = catalogueDomains(catalogueKey(account.issuer));
        domains && anyFits(*domains, h)) {
        score = std::max(score, 85);
    }
    const std::vector<std::string> words = serviceKeywords(account.issuer);
    for (const auto& word : words) {
        if (const auto* domains = catalogueDomains(word); domains && anyFits(*domains, h)) {
            score = std::max(score, 75);
            break;
        }
    }
    const std::string& first = prepared.firstLabel;
    if (!first.empty() && std::find(words.begin(), words.end(), first) != words.end()) {
        score = std::max(score, 70);
    }
    if (!reg.empty() && name.find(reg) != std::string::npos) {
        score = std::max(score, 65);
    }
    for (const auto& word : words) {
        if (characterCount(word) < 4) {
            continue;
        }
        for (const auto& label : prepared.siteLabels) {
            if (label.find(word) != std::string::npos) {
                return std::max(score, 40);
            }
        }
    }
    return score;
}

} // namespace tallowin
