// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/IssuerRepair.h"

#include <cstdint>

namespace tallowin {

namespace {
bool isContinuationByte(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

/// The scalar whose UTF-8 form starts at `begin` (U+FFFD for a malformed one).
char32_t decodeAt(std::string_view text, std::size_t begin) {
    const auto lead = static_cast<unsigned char>(text[begin]);
    int length = 0;
    char32_t scalar = 0;
    if (lead < 0x80) {
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        scalar = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        scalar = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        scalar = lead & 0x07;
    } else {
        return U'\uFFFD';
    }
    if (begin + static_cast<std::size_t>(length) > text.size()) {
        return U'\uFFFD';
    }
    for (int i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[begin + static_cast<std::size_t>(i)]);
        if (!isContinuationByte(byte)) {
            return U'\uFFFD';
        }
        scalar = (scalar << 6) | (byte & 0x3F);
    }
    return scalar;
}

/// The scalar that ends just before `end`.
char32_t decodeBefore(std::string_view text, std::size_t end) {
    std::size_t begin = end - 1;
    while (begin > 0 && end - begin < 4 &&
           isContinuationByte(static_cast<unsigned char>(text[begin]))) {
        --begin;
    }
    return decodeAt(text, begin);
}

/// Unicode White_Space, line breaks included.
bool isWhiteSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool isJoiner(char32_t c) {
    return c != U'+' && !isWhiteSpace(c);
}
} // namespace

std::string repairedIssuer(std::string_view issuer) {
    std::string repaired(issuer);
    // '+' is a single byte that never occurs inside a longer UTF-8 sequence, so the first and
    // last characters are never looked at when the scan skips the first and last bytes.
    for (std::size_t i = 1; i + 1 < issuer.size(); ++i) {
        if (issuer[i] == '+' && isJoiner(decodeBefore(issuer, i)) &&
            isJoiner(decodeAt(issuer, i + 1))) {
            repaired[i] = ' ';
        }
    }
    return repaired;
}

std::vector<Account> repairIssuers(std::vector<Account> accounts, Date now,
                                   std::string_view deviceID) {
    for (Account& account : accounts) {
        if (isDeleted(account) || account.issuer.find('+') == std::string::npos) {
            continue;
        }
        std::string issuer = repairedIssuer(account.issuer);
        if (issuer != account.issuer) {
            account.issuer = std::move(issuer);
            account.updatedAt = now;
            account.updatedBy = std::string(deviceID);
        }
    }
    return accounts;
}

} // namespace tallowin
