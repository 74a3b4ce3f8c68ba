// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Unicode.h"

#include <algorithm>
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

namespace {
bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
} // namespace

std::string toLower(std::string_view text) {
    if (isASCII(text)) { // same result as the full mapping, without ICU
        std::string out(text);
        for (char& c : out) {
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return out;
    }
    icu::UnicodeString s = fromUTF8(text);
    s.toLower(icu::Locale::getRoot());
    return toUTF8(s);
}

std::string toUpper(std::string_view text) {
    if (isASCII(text)) {
        std::string out(text);
        for (char& c : out) {
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
        return out;
    }
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
    if (isASCII(text)) { // the ASCII letters and digits are the whole ASCII part of L, M and N
        for (const char c : text) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
                pieces.back().push_back(c);
            } else {
                pieces.emplace_back();
            }
        }
        return pieces;
    }
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

namespace {
/// The user's-locale collator at secondary strength (case-insensitive), or null.
const icu::Collator* caseInsensitiveCollator() {
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
    return collator.get();
}
} // namespace

std::string localizedCaseInsensitiveKey(std::string_view text) {
    const icu::Collator* collator = caseInsensitiveCollator();
    if (!collator) {
        return toLower(text);
    }
    const icu::UnicodeString source = fromUTF8(text);
    std::string key(static_cast<std::size_t>(source.length()) * 4 + 16, '\0');
    for (;;) {
        const int32_t length = collator->getSortKey(source, reinterpret_cast<uint8_t*>(key.data()),
                                                    static_cast<int32_t>(key.size()));
        if (length <= static_cast<int32_t>(key.size())) {
            key.resize(length > 0 ? static_cast<std::size_t>(length) - 1
                                  : 0); // drop the terminating zero
            return key;
        }
        key.resize(static_cast<std::size_t>(length));
    }
}

int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
    const icu::Collator* collator = caseInsensitiveCollator();
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
