// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <openssl/crypto.h>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

using Bytes = std::vector<std::uint8_t>;

inline Bytes toBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
inline std::string toString(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

/// Bytes that hold key material: wiped with OPENSSL_cleanse whenever they are dropped.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::span<const std::uint8_t> bytes)
        : bytes_(bytes.begin(), bytes.end()) {}
    explicit SecretBytes(std::size_t size) : bytes_(size) {}
    SecretBytes(const SecretBytes&) = default;
    SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.wipe(); }
    SecretBytes& operator=(const SecretBytes& other) {
        if (this != &other) {
            wipe();
            bytes_ = other.bytes_;
        }
        return *this;
    }
    SecretBytes& operator=(SecretBytes&& other) noexcept {
        if (this != &other) {
            wipe();
            bytes_ = std::move(other.bytes_);
            other.wipe();
        }
        return *this;
    }
    ~SecretBytes() { wipe(); }

    [[nodiscard]] std::uint8_t* data() { return bytes_.data(); }
    [[nodiscard]] const std::uint8_t* data() const { return bytes_.data(); }
    [[nodiscard]] std::size_t size() const { return bytes_.size(); }
    [[nodiscard]] bool empty() const { return bytes_.empty(); }
    [[nodiscard]] std::span<const std::uint8_t> span() const { return bytes_; }
    [[nodiscard]] std::span<std::uint8_t> span() { return bytes_; }
    void resize(std::size_t size) { bytes_.resize(size); }

    friend bool operator==(const SecretBytes& a, const SecretBytes& b) {
        return a.size() == b.size() &&
               (a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0);
    }

private:
    void wipe() {
        if (!bytes_.empty()) {
            OPENSSL_cleanse(bytes_.data(), bytes_.size());
        }
        bytes_.clear();
    }
    std::vector<std::uint8_t> bytes_;
};

} // namespace tallowin
