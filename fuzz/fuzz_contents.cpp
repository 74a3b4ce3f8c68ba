// SPDX-License-Identifier: GPL-3.0-or-later
// Reads untrusted bytes as contents JSON with the quick reader and with the tree reader:
// both must give the same accounts (down to the bits of each date) or fail with the same
// message. Whatever decodes, and a few accounts made straight from the raw bytes (any
// bytes in the strings, any bit pattern in the dates), must be written to the same bytes
// by the quick writer and the tree writer.

#include "core/VaultContentsJSON.h"
#include "core/VaultEnvelope.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

using namespace tallowin;

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

using Outcome = std::variant<std::vector<Account>, std::string>;

template <typename Read> Outcome outcomeOf(Read read) {
    try {
        return read();
    } catch (const JSONDecodeError& error) {
        return std::string(error.what());
    }
}

bool sameBits(Date a, Date b) {
    return std::memcmp(&a.sinceReference, &b.sinceReference, sizeof(double)) == 0;
}

bool identical(const Outcome& a, const Outcome& b) {
    if (a.index() != b.index()) {
        return false;
    }
    if (const auto* message = std::get_if<std::string>(&a)) {
        return *message == std::get<std::string>(b);
    }
    const auto& x = std::get<std::vector<Account>>(a);
    const auto& y = std::get<std::vector<Account>>(b);
    if (x != y) {
        return false;
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!sameBits(x[i].createdAt, y[i].createdAt) ||
            !sameBits(x[i].updatedAt, y[i].updatedAt) ||
            (x[i].deletedAt && !sameBits(*x[i].deletedAt, *y[i].deletedAt))) {
            return false;
        }
    }
    return true;
}

void requireSameEncoding(std::span<const Account> accounts) {
    require(writeContentsJSON(accounts) == writeContentsJSONTree(accounts));
}

/// Takes values from the raw input; zeros once it runs out.
class Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ == size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    void fill(void* out, std::size_t count) {
        auto* bytes = static_cast<std::uint8_t*>(out);
        for (std::size_t i = 0; i < count; ++i) {
            bytes[i] = byte();
        }
    }
    std::string text() {
        const std::size_t length = std::min<std::size_t>(byte() % 40, size_ - at_);
        std::string value(reinterpret_cast<const char*>(data_ + at_), length);
        at_ += length;
        return value;
    }
    std::int64_t integer() {
        std::int64_t value = 0;
        fill(&value, sizeof value);
        return value;
    }
    Date date() {
        double value = 0;
        fill(&value, sizeof value);
        return Date{value};
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::vector<Account> accountsFromBytes(const std::uint8_t* data, std::size_t size) {
    Cursor cursor(data, size);
    std::vector<Account> accounts;
    while (!cursor.empty() && accounts.size() < 4) {
        Account account;
        cursor.fill(account.id.bytes.data(), account.id.bytes.size());
        account.issuer = cursor.text();
        account.label = cursor.text();
        account.secret = cursor.text();
        account.updatedBy = cursor.text();
        account.algorithm = static_cast<OTPAlgorithm>(cursor.byte() % 3);
        account.digits = cursor.integer();
        account.period = cursor.integer();
        const std::uint8_t flags = cursor.byte();
        if (flags & 1) {
            account.color = cursor.integer();
        }
        for (int i = 0; i < (flags >> 1) % 4; ++i) {
            account.websites.push_back(cursor.text());
        }
        account.createdAt = cursor.date();
        account.updatedAt = cursor.date();
        if (flags & 8) {
            account.deletedAt = cursor.date();
        }
        accounts.push_back(std::move(account));
    }
    return accounts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Outcome tree = outcomeOf([&] { return readContentsJSONTree(text); });
    const Outcome decoded =
        outcomeOf([&] { return decodeContents(std::span(data, size)).accounts; });
    require(identical(decoded, tree));

    std::optional<Outcome> quick;
    try {
        if (auto accounts = readContentsJSONQuickly(text)) {
            quick = std::move(*accounts);
        }
    } catch (const JSONDecodeError& error) {
        quick = std::string(error.what());
    }
    require(!quick || identical(*quick, tree));

    if (const auto* accounts = std::get_if<std::vector<Account>>(&tree)) {
        requireSameEncoding(*accounts);
    }
    requireSameEncoding(accountsFromBytes(data, size));
    return 0;
}
