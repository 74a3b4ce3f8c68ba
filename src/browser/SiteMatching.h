// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Which of the user's accounts belongs to a web site, and which domain stands for an
// account's service. Pure functions over text; none of them fails.

#include "browser/LearnedSites.h"
#include "core/Account.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

/// The bare host of a text: lower-cased, trimmed of white space and line breaks, the
/// host of a URL when the text has a scheme ("https://www.example.com/a" gives
/// "example.com"; a bare host stays as it is), and one leading "www." removed. May be
/// empty.
[[nodiscard]] std::string normalizedHost(std::string_view text);

/// The last two labels of the host of `text`, or the last three when the last two are a
/// two-label public suffix ("a.b.co.uk" gives "b.co.uk"). Shorter hosts are returned
/// whole, with empty labels dropped.
[[nodiscard]] std::string registrableDomain(std::string_view text);

/// The lower-cased words of a text (split at everything that is not a letter, mark or
/// digit) that have at least 3 characters and are not stop words, in order, duplicates
/// kept.
[[nodiscard]] std::vector<std::string> serviceKeywords(std::string_view text);

/// The text as a lower-case domain name when it looks like one ("Example.COM" gives
/// "example.com"): dot-separated labels of a-z, 0-9 and '-', the last of at least two
/// letters. Nothing otherwise.
[[nodiscard]] std::optional<std::string> domainFromText(std::string_view text);

/// The domain of an account's service: its first website, else a domain written as the
/// issuer or before a colon in the label, else the catalogue's main domain for the
/// issuer or for one of its words. Nothing when none of them applies.
[[nodiscard]] std::optional<std::string> serviceDomain(const Account& account);

/// How well `account` fits the page `host`: 100 (its own website), 95 (learned in a
/// browser), 90 (the host is written in issuer or label), 85 (catalogue, whole issuer),
/// 75 (catalogue, one issuer word), 70 (issuer word is the site name), 65 (the domain is
/// written in issuer or label), 40 (issuer word inside a host label), else 0.
[[nodiscard]] int matchScore(const Account& account, std::string_view host,
                             const LearnedSites& learned);

/// What matchScore derives from the host alone, computed once when many accounts are
/// scored against the same page.
struct MatchHost {
    explicit MatchHost(std::string_view host);

    std::string host;                    ///< normalizedHost of the page's host
    std::string registrable;             ///< its registrable domain
    std::string firstLabel;              ///< first label of the registrable domain
    std::vector<std::string> siteLabels; ///< the host's labels without the last one
};

[[nodiscard]] int matchScore(const Account& account, const MatchHost& host,
                             const LearnedSites& learned);

} // namespace tallowin
