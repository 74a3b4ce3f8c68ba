// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/PasswordStrength.h"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace tallowin {

int characterCount(std::string_view text) {
    const icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int>(text.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !characters) {
        return unicode.countChar32();
    }
    characters->setText(unicode);
    int count = 0;
    for (std::int32_t end = characters->next(); end != icu::BreakIterator::DONE;
         end = characters->next()) {
        ++count;
    }
    return count;
}

int passwordStrength(std::string_view password) {
    bool lower = false;
    bool upper = false;
    bool digit = false;
    bool symbol = false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(password.data());
    const auto length = static_cast<std::int32_t>(password.size());
    for (std::int32_t offset = 0; offset < length;) {
        UChar32 scalar = 0;
        U8_NEXT(bytes, offset, length, scalar);
        if (scalar < 0) {
            continue;
        }
        switch (u_charType(scalar)) {
        case U_LOWERCASE_LETTER:
            lower = true;
            break;
        case U_UPPERCASE_LETTER:
        case U_TITLECASE_LETTER:
            upper = true;
            break;
        case U_DECIMAL_DIGIT_NUMBER:
            digit = true;
            break;
        case U_DASH_PUNCTUATION:
        case U_START_PUNCTUATION:
        case U_END_PUNCTUATION:
        case U_CONNECTOR_PUNCTUATION:
        case U_OTHER_PUNCTUATION:
        case U_INITIAL_PUNCTUATION:
        case U_FINAL_PUNCTUATION:
        case U_MATH_SYMBOL:
        case U_CURRENCY_SYMBOL:
        case U_MODIFIER_SYMBOL:
        case U_OTHER_SYMBOL:
            symbol = true;
            break;
        default:
            break;
        }
    }
    const int n = characterCount(password);
    const int classes = int(lower) + int(upper) + int(digit) + int(symbol);
    return int(n >= 10) + int(n >= 14) + int(n >= 20) + int(classes >= 3);
}

} // namespace tallowin
