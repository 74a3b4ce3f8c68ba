// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PercentEncoding.h"

#include "core/TextCodes.h"

#include <cstdint>
#include <unicode/utf8.h>

namespace tallowin {

namespace {
/// The byte of the escape at `i` ("%XX"), or -1 when there is no well-formed escape there.
int escapeAt(std::string_view text, std::size_t i) {
    if (text[i] != '%' || text.size() - i < 3) {
        return -1;
    }
    const int high = hexDigitValue(text[i + 1]);
    const int low = hexDigitValue(text[i + 2]);
    return high < 0 || low < 0 ? -1 : high << 4 | low;
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isAllowed(unsigned char c, PercentEncodeSet set) {
    if (isUnreserved(c)) {
        return true;
    }
    const std::string_view extra =
        set == PercentEncodeSet::path ? std::string_view("!$&'()*,;=:@/") : "!$'()*,:@/?";
    return c != 0 && extra.find(static_cast<char>(c)) != std::string_view::npos;
}
} // namespace

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        const int byte = escapeAt(text, i);
        if (byte < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(byte));
        i += 2;
    }
    if (!isValidUTF8(out)) {
        return std::nullopt;
    }
    return out;
}

std::string percentDecodedLossy(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int byte = escapeAt(text, i);
        if (byte < 0) {
            out.push_back(text[i]);
            continue;
        }
        out.push_back(static_cast<char>(byte));
        i += 2;
    }
    return isValidUTF8(out) ? out : repairedUTF8(out);
}

std::string percentEncoded(std::string_view text, PercentEncodeSet set) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isAllowed(byte, set)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        }
    }
    return out;
}

bool isValidUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::size_t i = 0;
    // ICU's macros index with int32_t; walk long texts in chunks that end on ASCII.
    while (i < text.size()) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        const auto remaining = text.size() - i;
        const auto length = static_cast<int32_t>(remaining < 4 ? remaining : 4);
        int32_t offset = 0;
        UChar32 c = 0;
        U8_NEXT(bytes + i, offset, length, c);
        if (c < 0) {
            return false;
        }
        i += static_cast<std::size_t>(offset);
    }
    return true;
}

std::string repairedUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (bytes[i] < 0x80) {
            out.push_back(text[i++]);
            continue;
        }
        const auto remaining = text.size() - i;
        const auto length = static_cast<int32_t>(remaining < 4 ? remaining : 4);
        int32_t offset = 0;
        UChar32 c = 0;
        U8_NEXT(bytes + i, offset, length, c);
        if (c < 0) {
            out.append("\xEF\xBF\xBD");
        } else {
            out.append(text.substr(i, static_cast<std::size_t>(offset)));
        }
        i += static_cast<std::size_t>(offset);
    }
    return out;
}

} // namespace tallowin
