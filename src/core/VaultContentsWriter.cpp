// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the contents JSON straight into a wiped buffer, exactly as the tree is dumped:
// keys in byte order, no white space, strings escaped like nlohmann's serializer with
// invalid UTF-8 replaced, dates by the rule of dateToJSON.
#include "core/TextCodes.h"
#include "core/VaultContentsJSON.h"
#include "core/VaultJSON.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace tallowin {

namespace {

/// Bytes a string copies as they are: printable ASCII (and DEL) apart from the quote and
/// the backslash.
constexpr std::array<bool, 256> kPlainStringByte = [] {
    std::array<bool, 256> table{};
    for (int c = 0x20; c < 0x80; ++c) {
        table[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
    }
    return table;
}();

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

class ContentsWriter {
public:
    explicit ContentsWriter(std::size_t expectedSize) : buffer_(expectedSize) {}

    SecretBytes finish() {
        buffer_.resize(size_);
        return std::move(buffer_);
    }

    void account(const Account& account) {
        raw(R"({"algorithm":")");
        raw(rawValue(account.algorithm));
        if (account.color) {
            raw(R"(","color":)");
            integer(*account.color);
            raw(R"(,"createdAt":)");
        } else {
            raw(R"(","createdAt":)");
        }
        date(account.createdAt);
        if (account.deletedAt) {
            raw(R"(,"deletedAt":)");
            date(*account.deletedAt);
        }
        raw(R"(,"digits":)");
        integer(account.digits);
        raw(R"(,"id":")");
        uuid(account.id);
        raw(R"(","issuer":)");
        string(account.issuer);
        raw(R"(,"label":)");
        string(account.label);
        raw(R"(,"period":)");
        integer(account.period);
        raw(R"(,"secret":)");
        string(account.secret);
        raw(R"(,"updatedAt":)");
        date(account.updatedAt);
        raw(R"(,"updatedBy":)");
        string(account.updatedBy);
        raw(R"(,"websites":[)");
        for (std::size_t i = 0; i < account.websites.size(); ++i) {
            if (i > 0) {
                raw(",");
            }
            string(account.websites[i]);
        }
        raw("]}");
    }

    void raw(std::string_view text) {
        char* out = reserve(text.size());
        std::memcpy(out, text.data(), text.size());
        size_ += text.size();
    }

private:
    /// Room for `count` more bytes at the end. A larger buffer takes the bytes over and
    /// the old one is wiped.
    char* reserve(std::size_t count) {
        if (buffer_.size() - size_ < count) {
            SecretBytes larger(std::max(buffer_.size() * 2, size_ + count));
            std::memcpy(larger.data(), buffer_.data(), size_);
            buffer_ = std::move(larger);
        }
        return reinterpret_cast<char*>(buffer_.data()) + size_;
    }

    void integer(std::int64_t value) {
        char* out = reserve(24);
        size_ += static_cast<std::size_t>(std::to_chars(out, out + 24, value).ptr - out);
    }

    /// dateToJSON: integral values below 2^53 as integers, others as the shortest
    /// decimal that reads back to the same double (the serializer's own conversion),
    /// non-finite ones as null as the serializer writes them.
    void date(Date date) {
        const double v = date.sinceReference;
        if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 9007199254740992.0) {
            integer(static_cast<std::int64_t>(v));
        } else if (!std::isfinite(v)) {
            raw("null");
        } else {
            constexpr std::size_t room = 64; // the serializer's number buffer
            char* out = reserve(room);
            size_ += static_cast<std::size_t>(nlohmann::detail::to_chars(out, out + room, v) - out);
        }
    }

    void uuid(const Uuid& id) {
        static constexpr char digits[] = "0123456789ABCDEF";
        char* out = reserve(36);
        for (std::size_t i = 0; i < id.bytes.size(); ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10) {
                *out++ = '-';
            }
            *out++ = digits[id.bytes[i] >> 4];
            *out++ = digits[id.bytes[i] & 0x0F];
        }
        size_ += 36;
    }

    /// A JSON string: quote, backslash and control characters escaped (\b \t \n \f \r,
    /// others as \u00xx), everything else as it is; each ill-formed piece of UTF-8 becomes
    /// U+FFFD, and the byte that broke a sequence is read again as a sequence of its own.
    void string(std::string_view text) {
        std::size_t plain = 0;
        while (plain < text.size() && kPlainStringByte[static_cast<unsigned char>(text[plain])]) {
            ++plain;
        }
        if (plain == text.size()) {
            char* out = reserve(text.size() + 2);
            *out++ = '"';
            std::memcpy(out, text.data(), text.size());
            out[text.size()] = '"';
            size_ += text.size() + 2;
            return;
        }
        // At most six bytes out for each byte in ("\u001f"), and two quotes.
        char* const start = reserve(text.size() * 6 + 2);
        char* out = start;
        *out++ = '"';
        std::size_t i = 0;
        while (i < text.size()) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (kPlainStringByte[c]) {
                *out++ = text[i++];
                continue;
            }
            if (c >= 0x80) {
                const UTF8Prefix prefix = wellFormedUTF8Prefix(text.substr(i));
                if (prefix.complete) {
                    std::memcpy(out, text.data() + i, prefix.length);
                    out += prefix.length;
                } else {
                    std::memcpy(out, kReplacementCharacter, 3);
                    out += 3;
                }
                i += prefix.length;
                continue;
            }
            *out++ = '\\';
            switch (c) {
            case '"':
            case '\\':
                *out++ = static_cast<char>(c);
                break;
            case '\b':
                *out++ = 'b';
                break;
            case '\t':
                *out++ = 't';
                break;
            case '\n':
                *out++ = 'n';
                break;
            case '\f':
                *out++ = 'f';
                break;
            case '\r':
                *out++ = 'r';
                break;
            default: {
                static constexpr char hex[] = "0123456789abcdef";
                *out++ = 'u';
                *out++ = '0';
                *out++ = '0';
                *out++ = hex[c >> 4];
                *out++ = hex[c & 0x0F];
                break;
            }
            }
            ++i;
        }
        *out++ = '"';
        size_ += static_cast<std::size_t>(out - start);
    }

    SecretBytes buffer_;
    std::size_t size_ = 0;
};

/// Room for the usual vault in one go: the strings and 240 bytes of keys, numbers and
/// punctuation per account (a typical account takes about 210, one with every member and
/// long dates up to 330). The buffer is zeroed and so touched whole: it is kept tight.
std::size_t expectedSize(std::span<const Account> accounts) {
    std::size_t size = 16;
    for (const Account& account : accounts) {
        size += 240 + account.issuer.size() + account.label.size() + account.secret.size() +
                account.updatedBy.size();
        for (const std::string& site : account.websites) {
            size += site.size() + 3;
        }
    }
    return size;
}

} // namespace

SecretBytes writeContentsJSON(std::span<const Account> accounts) {
    ContentsWriter writer(expectedSize(accounts));
    writer.raw(R"({"accounts":[)");
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        if (i > 0) {
            writer.raw(",");
        }
        writer.account(accounts[i]);
    }
    writer.raw("]}");
    return writer.finish();
}

SecretBytes writeContentsJSONTree(std::span<const Account> accounts) {
    Json list = Json::array();
    for (const Account& account : accounts) {
        list.push_back(accountToJSON(account));
    }
    Json object = Json::object();
    object["accounts"] = std::move(list);
    std::string text = encodeVaultJSON(object);
    SecretBytes bytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    OPENSSL_cleanse(text.data(), text.size());
    return bytes;
}

} // namespace tallowin
