// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Unicode.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace tallowin {

namespace {
icu::UnicodeString fromUTF8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

bool isAlphanumeric(UChar32 c) {
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}
} // namespace

std::string toNFC(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        return std::string(text);
    }
    const icu::UnicodeString source = fromUTF8(text);
    if (nfc->isNormalized(source, status) && U_SUCCESS(status)) {
        return toUTF8(source);
    }
    status = U_ZERO_ERROR;
    const icu::UnicodeString normalized = nfc->normalize(source, status);
    return U_SUCCESS(status) ? toUTF8(normalized) : toUTF8(source);
}

int plainCompare(std::string_view a, std::string_view b) {
    // UTF-8 byte order is scalar-value order.
    return toNFC(a).compare(toNFC(b));
}

std::string toLower(std::string_view text) {
    icu::UnicodeString s = fromUTF8(text);
    s.toLower(icu::Locale::getRoot());
    return toUTF8(s);
}

std::string toUpper(std::string_view text) {
    icu::UnicodeString s = fromUTF8(text);
    s.toUpper(icu::Locale::getRoot());
    return toUTF8(s);
}

std::u32string scalars(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        out.push_back(c < 0 ? U'\uFFFD' : static_cast<char32_t>(c));
    }
    return out;
}

std::vector<std::string> splitAtNonAlphanumerics(std::string_view text) {
    std::vector<std::string> pieces(1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c >= 0 && isAlphanumeric(c)) {
            pieces.back().append(
                text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        } else {
            pieces.emplace_back();
        }
    }
    return pieces;
}

int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
    static std::once_flag once;
    static std::unique_ptr<icu::Collator> collator;
    std::call_once(once, [] {
        UErrorCode status = U_ZERO_ERROR;
        // The C and POSIX locales map to en_US_POSIX, whose collation puts every upper-case
        // letter before every lower-case one: not case-insensitive. The root order is.
        icu::Locale locale = icu::Locale::getDefault();
        if (std::strcmp(locale.getVariant(), "POSIX") == 0) {
            locale = icu::Locale::getRoot();
        }
        collator.reset(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status)) {
            collator.reset();
            return;
        }
        collator->setStrength(icu::Collator::SECONDARY);
    });
    if (!collator) {
        return toLower(a).compare(toLower(b));
    }
    UErrorCode status = U_ZERO_ERROR;
    // Collator::compare is thread-safe on a const collator.
    const auto result =
        collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                              icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_FAILURE(status)) {
        return toLower(a).compare(toLower(b));
    }
    return result;
}

} // namespace tallowin
