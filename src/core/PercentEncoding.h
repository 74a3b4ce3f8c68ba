// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallowin {

/// Decodes every "%XX" escape. Gives nothing when an escape is malformed (a "%" not followed
/// by two hex digits) or when the decoded bytes are not valid UTF-8.
[[nodiscard]] std::optional<std::string> percentDecoded(std::string_view text);

/// Decodes every well-formed "%XX" escape, keeps malformed ones as they are, and replaces
/// each ill-formed UTF-8 sequence with U+FFFD. Always valid UTF-8.
[[nodiscard]] std::string percentDecodedLossy(std::string_view text);

/// Characters left unencoded beyond the RFC 3986 unreserved set (letters, digits, "-._~").
enum class PercentEncodeSet {
    /// For a URL path: also "!$&'()*,;=:@/". The plus sign is encoded so that it can't be
    /// read back as a space.
    path,
    /// For one query value: also "!$'()*,:@/?". "&", "=", "+", ";" and "#" are encoded.
    queryValue,
};

/// Percent-encodes (upper-case hex) every byte outside the set, "%" always.
[[nodiscard]] std::string percentEncoded(std::string_view text, PercentEncodeSet set);

/// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
/// U+10FFFF).
[[nodiscard]] bool isValidUTF8(std::string_view text);

/// The text with each ill-formed UTF-8 sequence (maximal subpart) replaced by U+FFFD.
[[nodiscard]] std::string repairedUTF8(std::string_view text);

} // namespace tallowin
