// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/OTPAuthLink.h"

#include "core/Base32.h"
#include "core/PercentEncoding.h"
#include "core/Unicode.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <unicode/utf8.h>
#include <uriparser/Uri.h>

namespace tallowin {

OTPAuthError::OTPAuthError(Code code, std::string type) : code_(code) {
    switch (code) {
    case unsupportedType:
        type_ = type.empty() ? "unknown" : std::move(type);
        message_ = toUpper(type_) + " codes aren't supported; only time-based (TOTP) codes are.";
        break;
    case notOTPAuth:
        message_ = "That isn't an otpauth:// link.";
        break;
    case invalidSecret:
        message_ = "The setup key isn't valid base32.";
        break;
    }
}

namespace {

// ---- white space ------------------------------------------------------------------------

/// Unicode white space and line breaks: tab through carriage return, space, next line,
/// no-break space and the other space separators, line and paragraph separators.
bool isWhitespaceOrNewline(UChar32 c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

/// Length in bytes of the white-space character at `i`, 0 when there is none.
std::size_t whitespaceLengthAt(std::string_view text, std::size_t i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
        return isWhitespaceOrNewline(byte) ? 1 : 0;
    }
    const auto remaining = text.size() - i;
    const auto length = static_cast<int32_t>(remaining < 4 ? remaining : 4);
    int32_t offset = 0;
    UChar32 c = 0;
    U8_NEXT(reinterpret_cast<const std::uint8_t*>(text.data() + i), offset, length, c);
    return c >= 0 && isWhitespaceOrNewline(c) ? static_cast<std::size_t>(offset) : 0;
}

/// Length in bytes of the white-space character that ends text[..end), 0 when none.
std::size_t whitespaceLengthBefore(std::string_view text, std::size_t end) {
    for (std::size_t length = 1; length <= 3 && length <= end; ++length) {
        if (whitespaceLengthAt(text, end - length) == length) {
            return length;
        }
    }
    return 0;
}

std::string_view trimmedWhitespace(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t length = whitespaceLengthAt(text, start);
        if (length == 0) {
            break;
        }
        start += length;
    }
    std::size_t end = text.size();
    while (end > start) {
        const std::size_t length = whitespaceLengthBefore(text, end);
        if (length == 0) {
            break;
        }
        end -= length;
    }
    return text.substr(start, end - start);
}

std::string trimmedSpacesAndTabs(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// ---- case -------------------------------------------------------------------------------

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerCased(std::string_view text) {
    if (!isASCII(text)) {
        return toLower(text);
    }
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), asciiLower);
    return out;
}

bool startsWithIgnoringASCIICase(std::string_view text, std::string_view lowerPrefix) {
    // Compared byte by byte: no non-ASCII character lower-cases to one of the letters of
    // the prefixes used here ("otpauth://"), so full Unicode lower-casing gives the same.
    return text.size() >= lowerPrefix.size() &&
           std::equal(lowerPrefix.begin(), lowerPrefix.end(), text.begin(),
                      [](char p, char c) { return p == asciiLower(c); });
}

// ---- URL reference ----------------------------------------------------------------------

struct LinkParts {
    std::string scheme;
    std::optional<std::string> host; ///< still percent-encoded; none without authority
    std::string path;                ///< still percent-encoded
    std::string query;               ///< still percent-encoded; empty when there is none
};

std::string rangeText(const UriTextRangeA& range) {
    if (range.first == nullptr || range.afterLast == nullptr) {
        return {};
    }
    return std::string(range.first, range.afterLast);
}

/// RFC 3986 parse of a URI reference.
std::optional<LinkParts> parseReference(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    UriUriA uri{};
    const char* errorPosition = nullptr;
    if (uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPosition) !=
        URI_SUCCESS) {
        return std::nullopt;
    }
    struct FreeOnExit {
        UriUriA& uri;
        ~FreeOnExit() { uriFreeUriMembersA(&uri); }
    } freeOnExit{uri};

    LinkParts parts;
    parts.scheme = rangeText(uri.scheme);
    if (uri.hostText.first != nullptr) {
        parts.host = rangeText(uri.hostText);
    }
    // Segments are joined again by hand: uriparser may point empty segments at a
    // constant rather than into the text.
    if (parts.host || uri.absolutePath) {
        parts.path.push_back('/');
    }
    for (const UriPathSegmentA* segment = uri.pathHead; segment != nullptr;
         segment = segment->next) {
        if (segment != uri.pathHead) {
            parts.path.push_back('/');
        }
        parts.path += rangeText(segment->text);
    }
    parts.query = rangeText(uri.query);
    return parts;
}

/// The link with every byte that RFC 3986 never allows percent-encoded: controls, space,
/// non-ASCII bytes, `"<>\^`{|}[]`, and a "%" that doesn't start an escape.
std::string withForbiddenCharactersEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kForbidden = "\"<>\\^`{|}[]";
    const auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool loneHundred =
            byte == '%' && !(text.size() - i >= 3 && isHex(text[i + 1]) && isHex(text[i + 2]));
        if (byte <= 0x20 || byte >= 0x7F || kForbidden.find(text[i]) != std::string_view::npos ||
            loneHundred) {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

/// Strict RFC 3986 first; failing that, the same text with forbidden characters encoded.
std::optional<LinkParts> parseLinkParts(std::string_view text) {
    if (auto parts = parseReference(text)) {
        return parts;
    }
    const std::string encoded = withForbiddenCharactersEncoded(text);
    if (encoded == text) {
        return std::nullopt;
    }
    return parseReference(encoded);
}

// ---- parameters -------------------------------------------------------------------------

struct Parameters {
    std::optional<std::string> secret;
    std::optional<std::string> issuer;
    std::optional<std::string> algorithm;
    std::optional<std::string> digits;
    std::optional<std::string> period;

    std::optional<std::string>* slot(std::string_view name) {
        if (name == "secret") {
            return &secret;
        }
        if (name == "issuer") {
            return &issuer;
        }
        if (name == "algorithm") {
            return &algorithm;
        }
        if (name == "digits") {
            return &digits;
        }
        if (name == "period") {
            return &period;
        }
        return nullptr;
    }
};

/// Query items by lower-cased name, the later of two equal names winning; a plus sign
/// reads as a space, "%2B" as a plus sign.
Parameters readParameters(std::string_view rawQuery) {
    std::string query;
    query.reserve(rawQuery.size());
    for (const char c : rawQuery) {
        if (c == '+') {
            query += "%20";
        } else {
            query.push_back(c);
        }
    }
    Parameters parameters;
    std::string_view rest = query;
    while (true) {
        const std::size_t ampersand = rest.find('&');
        const std::string_view item = rest.substr(0, ampersand);
        const std::size_t equals = item.find('=');
        const std::string name = lowerCased(percentDecodedLossy(item.substr(0, equals)));
        if (auto* slot = parameters.slot(name)) {
            *slot = equals == std::string_view::npos ? std::string()
                                                     : percentDecodedLossy(item.substr(equals + 1));
        }
        if (ampersand == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(ampersand + 1);
    }
    return parameters;
}

/// A decimal integer: an optional sign, then ASCII digits only; nothing on overflow.
std::optional<std::int64_t> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    constexpr auto kMax = static_cast<std::uint64_t>(INT64_MAX);
    if (!negative) {
        return magnitude <= kMax ? std::optional(static_cast<std::int64_t>(magnitude))
                                 : std::nullopt;
    }
    if (magnitude > kMax + 1) {
        return std::nullopt;
    }
    return magnitude == kMax + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
}

/// The issuer and label held in the link's path.
std::pair<std::string, std::string> issuerAndLabel(std::string_view path) {
    std::string once = percentDecodedLossy(path);
    if (!once.empty() && once.front() == '/') {
        once.erase(0, 1);
    }
    const std::string text = percentDecoded(once).value_or(once);
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return {std::string(), trimmedSpacesAndTabs(text)};
    }
    return {trimmedSpacesAndTabs(std::string_view(text).substr(0, colon)),
            trimmedSpacesAndTabs(std::string_view(text).substr(colon + 1))};
}

/// The path text of a setup link, encoded so that the reader's two decodings give it back.
std::string encodedLabelPath(std::string_view labelText) {
    std::string path = percentEncoded(labelText, PercentEncodeSet::path);
    // The reader decodes the path twice. When a second decoding of the label would
    // succeed and change it ("%41", "100%25"), its percent signs are encoded twice so
    // that they survive both.
    const std::optional<std::string> twice = percentDecoded(labelText);
    if (twice && *twice != labelText) {
        std::string doubled;
        doubled.reserve(path.size() + path.size() / 2);
        for (std::size_t i = 0; i < path.size(); ++i) {
            if (path.compare(i, 3, "%25") == 0) {
                doubled += "%2525";
                i += 2;
            } else {
                doubled.push_back(path[i]);
            }
        }
        path = std::move(doubled);
    }
    return path;
}

} // namespace

AccountDraft parseOTPAuthLink(std::string_view text) {
    const std::optional<LinkParts> parts = parseLinkParts(trimmedWhitespace(text));
    if (!parts || lowerCased(parts->scheme) != "otpauth") {
        throw OTPAuthError(OTPAuthError::notOTPAuth);
    }
    std::string type = parts->host ? lowerCased(percentDecodedLossy(*parts->host)) : "";
    if (type != "totp") {
        throw OTPAuthError(OTPAuthError::unsupportedType, std::move(type));
    }

    const Parameters parameters = readParameters(parts->query);
    std::optional<std::string> secret =
        parameters.secret ? normalizedSecret(*parameters.secret) : std::nullopt;
    if (!secret) {
        throw OTPAuthError(OTPAuthError::invalidSecret);
    }

    AccountDraft draft;
    draft.secret = std::move(*secret);
    std::tie(draft.issuer, draft.label) = issuerAndLabel(parts->path);
    if (parameters.issuer && !parameters.issuer->empty()) {
        draft.issuer = *parameters.issuer;
    }
    if (parameters.algorithm) {
        if (const auto algorithm = otpAlgorithmFromRaw(toUpper(*parameters.algorithm))) {
            draft.algorithm = *algorithm;
        }
    }
    if (parameters.digits) {
        if (const auto digits = parseInteger(*parameters.digits);
            digits && *digits >= 6 && *digits <= 9) {
            draft.digits = *digits;
        }
    }
    if (parameters.period) {
        if (const auto period = parseInteger(*parameters.period); period && *period >= 1) {
            draft.period = *period;
        }
    }
    return draft;
}

ParsedOTPAuthLinks parseOTPAuthLinks(std::string_view text) {
    ParsedOTPAuthLinks result;
    const auto handlePiece = [&result](std::string_view piece) {
        if (!startsWithIgnoringASCIICase(piece, "otpauth://")) {
            return;
        }
        try {
            result.drafts.push_back(parseOTPAuthLink(piece));
        } catch (const OTPAuthError&) {
            ++result.failures;
        }
    };
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = whitespaceLengthAt(text, i);
        if (length == 0) {
            ++i;
            continue;
        }
        handlePiece(text.substr(start, i - start));
        i += length;
        start = i;
    }
    handlePiece(text.substr(start));
    return result;
}

std::string setupLink(const Account& account) {
    // The reader splits the path at its first colon. An issuer holding a colon, or a
    // label holding one with no issuer in front, would be cut in the wrong place; an
    // empty issuer part (":label") keeps them apart, and the issuer item restores the
    // issuer.
    std::string labelText;
    if (account.issuer.find(':') != std::string::npos ||
        (account.issuer.empty() && account.label.find(':') != std::string::npos)) {
        labelText = ":" + account.label;
    } else if (account.issuer.empty()) {
        labelText = account.label;
    } else {
        labelText = account.issuer + ":" + account.label;
    }

    std::string link = "otpauth://totp/";
    link += encodedLabelPath(labelText);
    link += "?secret=";
    link += percentEncoded(account.secret, PercentEncodeSet::queryValue);
    link += "&algorithm=";
    link += rawValue(account.algorithm);
    link += "&digits=";
    link += std::to_string(account.digits);
    link += "&period=";
    link += std::to_string(account.period);
    if (!account.issuer.empty()) {
        link += "&issuer=";
        link += percentEncoded(account.issuer, PercentEncodeSet::queryValue);
    }
    return link;
}

std::string setupLinksText(const std::vector<Account>& accounts) {
    std::string text;
    for (const Account& account : accounts) {
        text += setupLink(account);
        text.push_back('\n');
    }
    if (accounts.empty()) {
        text.push_back('\n');
    }
    return text;
}

} // namespace tallowin
