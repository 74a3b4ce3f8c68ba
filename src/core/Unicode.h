// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Unicode text helpers over UTF-8 std::string, backed by ICU. Invalid UTF-8 input is
// read with U+FFFD in place of each bad sequence; none of these functions throw.

#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

/// Canonical composition (NFC).
[[nodiscard]] std::string toNFC(std::string_view text);

/// Plain string order: Unicode scalar values compared one by one after NFC
/// (for ASCII text, byte order). Negative, zero or positive like strcmp.
[[nodiscard]] int plainCompare(std::string_view a, std::string_view b);
[[nodiscard]] inline bool plainLess(std::string_view a, std::string_view b) {
    return plainCompare(a, b) < 0;
}

/// Full Unicode lower/upper casing, independent of the user's locale.
[[nodiscard]] std::string toLower(std::string_view text);
[[nodiscard]] std::string toUpper(std::string_view text);

/// The Unicode scalar values of the text, in order.
[[nodiscard]] std::u32string scalars(std::string_view text);

/// Splits at every scalar outside the alphanumeric set (general categories L, M and N:
/// letters, marks and digits). Empty pieces are kept, like a plain split.
[[nodiscard]] std::vector<std::string> splitAtNonAlphanumerics(std::string_view text);

/// Locale-aware, case-insensitive comparison in the user's locale (ICU collator at
/// secondary strength). Negative, zero or positive.
[[nodiscard]] int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);

/// A byte string whose plain byte order is the order of localizedCaseInsensitiveCompare;
/// for sorting many texts, each key computed once.
[[nodiscard]] std::string localizedCaseInsensitiveKey(std::string_view text);

} // namespace tallowin
