// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the contents JSON in one pass. The reader takes a subset of the JSON that the
// tree parser takes and gives the same values for it: strings with the same escapes and
// UTF-8 checks, numbers typed and converted alike (integers first, doubles when they do
// not fit), the last of duplicate keys. Whatever it does not take is left to the tree
// reader, so the tree reader alone decides what is not valid JSON.
#include "core/TextCodes.h"
#include "core/VaultContentsJSON.h"
#include "core/VaultJSON.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>
#include <utility>

namespace tallowin {

namespace {

/// The document is left to the tree reader.
struct NotQuick {};

[[noreturn]] void notQuick() {
    throw NotQuick{};
}

[[noreturn]] void fail(std::string message) {
    throw JSONDecodeError(std::move(message));
}

std::string keyText(const char* key) {
    return std::string("\"") + key + "\"";
}

/// Bytes a string copies as they are: printable ASCII apart from the quote and the
/// backslash.
constexpr std::array<bool, 256> kPlainStringByte = [] {
    std::array<bool, 256> table{};
    for (int c = 0x20; c < 0x80; ++c) {
        table[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
    }
    return table;
}();

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

void appendUTF8(std::string& out, std::uint32_t codepoint) {
    if (codepoint < 0x80) {
        out.push_back(static_cast<char>(codepoint));
    } else if (codepoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codepoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codepoint & 0x3F)));
    } else if (codepoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codepoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codepoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codepoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codepoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codepoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codepoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codepoint & 0x3F)));
    }
}

/// One scalar member as read: its JSON type and value. Objects, arrays and booleans are
/// only remembered as `other`, a type no account member takes.
struct Scalar {
    enum class Kind : std::uint8_t { absent, string, integer, unsignedInteger, floating, other };
    Kind kind = Kind::absent;
    std::string text;
    std::int64_t integer = 0;
    std::uint64_t unsignedInteger = 0;
    double floating = 0;
};
using Kind = Scalar::Kind;

struct WebsitesMember {
    enum class Kind : std::uint8_t { absent, array, other };
    Kind kind = Kind::absent;
    std::vector<std::string> sites;
    bool onlyStrings = true;
};

/// The members of one account object, each holding the last value given for its key.
/// The text of "id" is parsed as it is read (`uuid`) and not kept.
struct AccountMembers {
    Scalar id;
    std::optional<Uuid> uuid;
    Scalar issuer, label, secret, algorithm, digits, period, color, createdAt, updatedAt, updatedBy,
        deletedAt;
    WebsitesMember websites;

    Scalar* scalar(std::string_view key) {
        if (key.empty()) {
            return nullptr;
        }
        switch (key.front()) {
        case 'a':
            return key == "algorithm" ? &algorithm : nullptr;
        case 'c':
            return key == "color" ? &color : key == "createdAt" ? &createdAt : nullptr;
        case 'd':
            return key == "digits" ? &digits : key == "deletedAt" ? &deletedAt : nullptr;
        case 'i':
            return key == "issuer" ? &issuer : nullptr;
        case 'l':
            return key == "label" ? &label : nullptr;
        case 'p':
            return key == "period" ? &period : nullptr;
        case 's':
            return key == "secret" ? &secret : nullptr;
        case 'u':
            return key == "updatedAt" ? &updatedAt : key == "updatedBy" ? &updatedBy : nullptr;
        default:
            return nullptr;
        }
    }
};

// The member readers below check in the order, and with the messages, of the typed
// member readers that accountFromJSON uses on the tree.

std::optional<std::string> optionalString(Scalar& member, const char* key) {
    if (member.kind == Kind::absent) {
        return std::nullopt;
    }
    if (member.kind != Kind::string) {
        fail("expected a string for " + keyText(key));
    }
    return std::move(member.text);
}

std::string requireString(Scalar& member, const char* key) {
    auto value = optionalString(member, key);
    if (!value) {
        fail("missing key " + keyText(key));
    }
    return std::move(*value);
}

std::optional<std::int64_t> optionalInt(const Scalar& member, const char* key) {
    switch (member.kind) {
    case Kind::absent:
        return std::nullopt;
    case Kind::integer:
        return member.integer;
    case Kind::unsignedInteger:
        if (member.unsignedInteger <=
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(member.unsignedInteger);
        }
        break;
    case Kind::floating: {
        const double d = member.floating;
        if (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 &&
            d < 9223372036854775808.0) {
            return static_cast<std::int64_t>(d);
        }
        break;
    }
    case Kind::string:
    case Kind::other:
        break;
    }
    fail("expected an integer for " + keyText(key));
}

std::optional<Date> optionalDate(const Scalar& member, const char* key) {
    double seconds = 0;
    switch (member.kind) {
    case Kind::absent:
        return std::nullopt;
    case Kind::integer:
        seconds = static_cast<double>(member.integer);
        break;
    case Kind::unsignedInteger:
        seconds = static_cast<double>(member.unsignedInteger);
        break;
    case Kind::floating:
        seconds = member.floating;
        break;
    case Kind::string:
    case Kind::other:
        fail("expected a date for " + keyText(key));
    }
    if (!std::isfinite(seconds)) {
        fail("expected a date for " + keyText(key));
    }
    return Date{seconds};
}

/// The account, checked member by member as accountFromJSON does.
Account accountFrom(AccountMembers& members) {
    Account account;
    if (members.id.kind == Kind::absent) {
        fail("missing key \"id\"");
    }
    if (members.id.kind != Kind::string) {
        fail("expected a string for \"id\"");
    }
    if (!members.uuid) {
        fail("expected a UUID for \"id\"");
    }
    account.id = *members.uuid;
    account.issuer = optionalString(members.issuer, "issuer").value_or("");
    account.label = optionalString(members.label, "label").value_or("");
    account.secret = requireString(members.secret, "secret");
    if (const auto raw = optionalString(members.algorithm, "algorithm")) {
        const auto algorithm = otpAlgorithmFromRaw(*raw);
        if (!algorithm) {
            fail("unknown value for \"algorithm\"");
        }
        account.algorithm = *algorithm;
    }
    account.digits = optionalInt(members.digits, "digits").value_or(6);
    account.period = optionalInt(members.period, "period").value_or(30);
    account.color = optionalInt(members.color, "color");
    switch (members.websites.kind) {
    case WebsitesMember::Kind::absent:
        break;
    case WebsitesMember::Kind::other:
        fail("expected an array for \"websites\"");
    case WebsitesMember::Kind::array:
        if (!members.websites.onlyStrings) {
            fail("expected strings in \"websites\"");
        }
        account.websites = std::move(members.websites.sites);
        break;
    }
    account.createdAt = optionalDate(members.createdAt, "createdAt").value_or(Date::fromUnix(0));
    account.updatedAt = optionalDate(members.updatedAt, "updatedAt").value_or(account.createdAt);
    account.updatedBy = optionalString(members.updatedBy, "updatedBy").value_or("");
    account.deletedAt = optionalDate(members.deletedAt, "deletedAt");
    return account;
}

/// The "accounts" member as read: the accounts up to the first one that does not decode,
/// and that one's error.
struct AccountsMember {
    enum class Kind : std::uint8_t { absent, array, other };
    Kind kind = Kind::absent;
    std::vector<Account> accounts;
    std::optional<std::string> error;
};

class ContentsReader {
public:
    explicit ContentsReader(std::string_view text)
        : p_(text.data()), end_(text.data() + text.size()) {}

    std::vector<Account> read() {
        skipWhiteSpace();
        if (p_ == end_ || *p_ != '{') {
            notQuick(); // the tree reader judges other top-level values
        }
        ++p_;
        AccountsMember accounts;
        if (!closes('}')) {
            do {
                const std::string_view key = readKey();
                if (key == "accounts") {
                    accounts = readAccounts();
                } else {
                    skipValue();
                }
            } while (nextMember('}'));
        }
        skipWhiteSpace();
        if (p_ != end_) {
            notQuick();
        }
        switch (accounts.kind) {
        case AccountsMember::Kind::absent:
            fail("missing key \"accounts\"");
        case AccountsMember::Kind::other:
            fail("expected an array for \"accounts\"");
        case AccountsMember::Kind::array:
            break;
        }
        if (accounts.error) {
            fail(std::move(*accounts.error));
        }
        return std::move(accounts.accounts);
    }

private:
    void skipWhiteSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) {
            ++p_;
        }
    }

    char peek() {
        skipWhiteSpace();
        if (p_ == end_) {
            notQuick();
        }
        return *p_;
    }

    /// After an opening bracket: true (and consumed) when the container is empty.
    bool closes(char close) {
        if (peek() == close) {
            ++p_;
            return true;
        }
        return false;
    }

    /// After a member or element: true after a comma, false after the closing bracket.
    bool nextMember(char close) {
        const char c = peek();
        ++p_;
        if (c == ',') {
            return true;
        }
        if (c != close) {
            notQuick();
        }
        return false;
    }

    /// An object key and the colon after it.
    std::string_view readKey() {
        if (peek() != '"') {
            notQuick();
        }
        const std::string_view key = readString(keyScratch_);
        if (peek() != ':') {
            notQuick();
        }
        ++p_;
        return key;
    }

    /// A string token at the cursor, decoded: a view into the text when it holds no
    /// escapes and no non-ASCII bytes, otherwise into `scratch`.
    std::string_view readString(std::string& scratch) {
        ++p_; // the opening quote
        const char* start = p_;
        while (p_ != end_ && kPlainStringByte[static_cast<unsigned char>(*p_)]) {
            ++p_;
        }
        if (p_ != end_ && *p_ == '"') {
            ++p_;
            return {start, static_cast<std::size_t>(p_ - 1 - start)};
        }
        scratch.assign(start, p_);
        for (;;) {
            if (p_ == end_) {
                notQuick();
            }
            const auto c = static_cast<unsigned char>(*p_);
            if (kPlainStringByte[c]) {
                scratch.push_back(*p_++);
            } else if (c == '"') {
                ++p_;
                return scratch;
            } else if (c == '\\') {
                readEscape(scratch);
            } else if (c >= 0x80) {
                const std::size_t length = utf8SequenceLength();
                scratch.append(p_, length);
                p_ += length;
            } else {
                notQuick(); // a control character
            }
        }
    }

    /// The length of the well-formed UTF-8 sequence at the cursor (U+0080 and up).
    std::size_t utf8SequenceLength() {
        const UTF8Prefix prefix =
            wellFormedUTF8Prefix(std::string_view(p_, static_cast<std::size_t>(end_ - p_)));
        if (!prefix.complete) {
            notQuick();
        }
        return prefix.length;
    }

    int readHexQuad() {
        if (end_ - p_ < 4) {
            notQuick();
        }
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigitValue(*p_++);
            if (digit < 0) {
                notQuick();
            }
            value = value << 4 | digit;
        }
        return value;
    }

    void readEscape(std::string& out) {
        ++p_; // the backslash
        if (p_ == end_) {
            notQuick();
        }
        const char c = *p_++;
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out.push_back(c);
            return;
        case 'b':
            out.push_back('\b');
            return;
        case 'f':
            out.push_back('\f');
            return;
        case 'n':
            out.push_back('\n');
            return;
        case 'r':
            out.push_back('\r');
            return;
        case 't':
            out.push_back('\t');
            return;
        case 'u':
            break;
        default:
            notQuick();
        }
        auto codepoint = static_cast<std::uint32_t>(readHexQuad());
        if (codepoint >= 0xD800 && codepoint <= 0xDBFF) {
            // A high surrogate must be followed by an escaped low one.
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') {
                notQuick();
            }
            p_ += 2;
            const auto low = static_cast<std::uint32_t>(readHexQuad());
            if (low < 0xDC00 || low > 0xDFFF) {
                notQuick();
            }
            codepoint = 0x10000 + ((codepoint - 0xD800) << 10) + (low - 0xDC00);
        } else if (codepoint >= 0xDC00 && codepoint <= 0xDFFF) {
            notQuick();
        }
        appendUTF8(out, codepoint);
    }

    /// A number token, typed as the tree parser types it: integers without a sign as
    /// unsigned, with a minus sign as signed, each as a double when it does not fit;
    /// numbers with a fraction or an exponent as doubles.
    void readNumber(Scalar& into) {
        const char* start = p_;
        if (*p_ == '-') {
            ++p_;
        }
        if (p_ == end_) {
            notQuick();
        }
        if (*p_ == '0') {
            ++p_;
        } else if (*p_ >= '1' && *p_ <= '9') {
            while (p_ != end_ && isDigit(*p_)) {
                ++p_;
            }
        } else {
            notQuick();
        }
        bool integral = true;
        const auto requireDigits = [this] {
            if (p_ == end_ || !isDigit(*p_)) {
                notQuick();
            }
            while (p_ != end_ && isDigit(*p_)) {
                ++p_;
            }
        };
        if (p_ != end_ && *p_ == '.') {
            integral = false;
            ++p_;
            requireDigits();
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            integral = false;
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) {
                ++p_;
            }
            requireDigits();
        }
        if (integral) {
            if (*start == '-') {
                const auto [end, error] = std::from_chars(start, p_, into.integer);
                if (error == std::errc() && end == p_) {
                    into.kind = Kind::integer;
                    return;
                }
            } else {
                const auto [end, error] = std::from_chars(start, p_, into.unsignedInteger);
                if (error == std::errc() && end == p_) {
                    into.kind = Kind::unsignedInteger;
                    return;
                }
            }
        }
        // Out of double range (or underflowing) is left to the tree parser, which
        // rejects the former and keeps what its conversion makes of the latter.
        const auto [end, error] = std::from_chars(start, p_, into.floating);
        if (error != std::errc() || end != p_ || !std::isfinite(into.floating)) {
            notQuick();
        }
        into.kind = Kind::floating;
    }

    void readLiteral(std::string_view literal) {
        if (static_cast<std::size_t>(end_ - p_) < literal.size() ||
            std::string_view(p_, literal.size()) != literal) {
            notQuick();
        }
        p_ += literal.size();
    }

    /// A member value of a scalar account member. Null leaves it absent.
    void readScalar(Scalar& into) {
        switch (peek()) {
        case '"':
            into.text.assign(readString(scratch_));
            into.kind = Kind::string;
            return;
        case 'n':
            readLiteral("null");
            into.kind = Kind::absent;
            return;
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            readNumber(into);
            return;
        default:
            skipValue();
            into.kind = Kind::other;
            return;
        }
    }

    void readWebsites(WebsitesMember& into) {
        into.sites.clear();
        into.onlyStrings = true;
        const char c = peek();
        if (c == 'n') {
            readLiteral("null");
            into.kind = WebsitesMember::Kind::absent;
            return;
        }
        if (c != '[') {
            skipValue();
            into.kind = WebsitesMember::Kind::other;
            return;
        }
        into.kind = WebsitesMember::Kind::array;
        ++p_;
        if (closes(']')) {
            return;
        }
        do {
            if (peek() == '"') {
                into.sites.emplace_back(readString(scratch_));
            } else {
                skipValue();
                into.onlyStrings = false;
            }
        } while (nextMember(']'));
    }

    /// An account object at the cursor (its opening brace consumed by the caller).
    /// Fails with the JSONDecodeError of accountFromJSON.
    Account readAccount() {
        AccountMembers members;
        if (!closes('}')) {
            do {
                const std::string_view key = readKey();
                if (key == "id") {
                    if (peek() == '"') {
                        members.uuid = Uuid::parse(readString(scratch_));
                        members.id.kind = Kind::string;
                    } else {
                        readScalar(members.id);
                    }
                } else if (Scalar* scalar = members.scalar(key)) {
                    readScalar(*scalar);
                } else if (key == "websites") {
                    readWebsites(members.websites);
                } else {
                    skipValue();
                }
            } while (nextMember('}'));
        }
        return accountFrom(members);
    }

    AccountsMember readAccounts() {
        AccountsMember member;
        const char c = peek();
        if (c == 'n') {
            readLiteral("null");
            return member;
        }
        if (c != '[') {
            skipValue();
            member.kind = AccountsMember::Kind::other;
            return member;
        }
        member.kind = AccountsMember::Kind::array;
        ++p_;
        if (closes(']')) {
            return member;
        }
        do {
            // Past the first account that does not decode the rest is only checked.
            if (member.error) {
                skipValue();
            } else if (peek() != '{') {
                skipValue();
                member.error = "expected an object for an account";
            } else {
                ++p_;
                try {
                    member.accounts.push_back(readAccount());
                } catch (const JSONDecodeError& error) {
                    member.error = error.what();
                }
            }
        } while (nextMember(']'));
        return member;
    }

    /// Checks a value that is not kept, nested at most kMaxSkippedJSONDepth deep.
    void skipValue() {
        std::array<char, kMaxSkippedJSONDepth> open{};
        std::size_t depth = 0;
        for (;;) {
            // One value at the cursor.
            switch (peek()) {
            case '"':
                (void)readString(scratch_);
                break;
            case 't':
                readLiteral("true");
                break;
            case 'f':
                readLiteral("false");
                break;
            case 'n':
                readLiteral("null");
                break;
            case '{':
            case '[': {
                const char close = *p_ == '{' ? '}' : ']';
                ++p_;
                if (closes(close)) {
                    break;
                }
                if (depth == open.size()) {
                    notQuick();
                }
                open[depth++] = close;
                if (close == '}') {
                    (void)readKey();
                }
                continue;
            }
            default: {
                Scalar number;
                if (*p_ != '-' && !isDigit(*p_)) {
                    notQuick();
                }
                readNumber(number);
                break;
            }
            }
            // After a value: close what ends here, then go on with the next one.
            for (;;) {
                if (depth == 0) {
                    return;
                }
                const char close = open[depth - 1];
                if (!nextMember(close)) {
                    --depth;
                    continue;
                }
                if (close == '}') {
                    (void)readKey();
                }
                break;
            }
        }
    }

    const char* p_;
    const char* end_;
    std::string scratch_;
    std::string keyScratch_;
};

} // namespace

std::optional<std::vector<Account>> readContentsJSONQuickly(std::string_view text) {
    try {
        return ContentsReader(text).read();
    } catch (const NotQuick&) {
        return std::nullopt;
    }
}

std::vector<Account> readContentsJSONTree(std::string_view text) {
    const Json object = parseVaultJSON(text);
    requireObject(object, "the vault contents");
    const Json& list = requireMember(object, "accounts");
    if (!list.is_array()) {
        throw JSONDecodeError("expected an array for \"accounts\"");
    }
    std::vector<Account> accounts;
    accounts.reserve(list.size());
    for (const Json& account : list) {
        accounts.push_back(accountFromJSON(account));
    }
    return accounts;
}

} // namespace tallowin
