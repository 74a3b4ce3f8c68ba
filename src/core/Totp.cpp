// SPDX-License-Identifier: GPL-3.0-or-later
// The low-level SHA functions are deprecated in OpenSSL 3 but remain the fastest way to
// reuse an HMAC key state; they are used only inside TotpGenerator.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "core/Totp.h"

#include "core/Base32.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <new>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <variant>

namespace tallowin {

namespace {
const EVP_MD* digestFor(OTPAlgorithm algorithm) {
    switch (algorithm) {
    case OTPAlgorithm::sha256:
        return EVP_sha256();
    case OTPAlgorithm::sha512:
        return EVP_sha512();
    case OTPAlgorithm::sha1:
        break;
    }
    return EVP_sha1();
}

constexpr std::array<std::uint32_t, 10> kPowersOfTen = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

/// Seconds since 1970 as used for codes: negative and NaN times count as 0.
double unixSeconds(Date time) {
    const double t = time.unixTime();
    return t >= 0 ? t : 0;
}

/// Dynamic truncation of a MAC to `digits` (clamped to 6...9) decimal digits.
std::string truncatedCode(const unsigned char* mac, unsigned macLength, std::int64_t digits) {
    const unsigned offset = mac[macLength - 1] & 0x0F;
    const std::uint32_t value = (static_cast<std::uint32_t>(mac[offset] & 0x7F) << 24) |
                                (static_cast<std::uint32_t>(mac[offset + 1]) << 16) |
                                (static_cast<std::uint32_t>(mac[offset + 2]) << 8) |
                                static_cast<std::uint32_t>(mac[offset + 3]);

    const auto length = static_cast<std::size_t>(std::clamp<std::int64_t>(digits, 6, 9));
    std::uint32_t code = value % kPowersOfTen[length];
    std::string text(length, '0'); // at most 9 characters: no heap allocation
    for (std::size_t i = length; i > 0 && code != 0; --i) {
        text[i - 1] = static_cast<char>('0' + code % 10);
        code /= 10;
    }
    return text;
}

/// Wipes decoded key bytes however the scope is left.
struct WipeOnExit {
    Bytes& bytes;
    ~WipeOnExit() {
        if (!bytes.empty()) {
            OPENSSL_cleanse(bytes.data(), bytes.size());
        }
    }
};
} // namespace

std::string totpCode(std::span<const std::uint8_t> secret, std::uint64_t counter,
                     OTPAlgorithm algorithm, std::int64_t digits) {
    const EVP_MD* md = digestFor(algorithm);

    std::array<unsigned char, 8> message{};
    for (int i = 7; i >= 0; --i) {
        message[static_cast<std::size_t>(i)] = static_cast<unsigned char>(counter & 0xFF);
        counter >>= 8;
    }

    // HMAC() takes an int key length. A longer key is replaced by its hash, exactly as
    // HMAC itself does for any key longer than the hash block (RFC 2104).
    std::array<unsigned char, EVP_MAX_MD_SIZE> hashedKey{};
    static constexpr unsigned char kNoKey = 0; // HMAC() wants a non-null key pointer
    const unsigned char* key = secret.empty() ? &kNoKey : secret.data();
    int keyLength = static_cast<int>(std::min<std::size_t>(secret.size(), INT_MAX));
    if (secret.size() > static_cast<std::size_t>(INT_MAX)) {
        unsigned int hashedLength = 0;
        if (EVP_Digest(secret.data(), secret.size(), hashedKey.data(), &hashedLength, md,
                       nullptr) != 1) {
            throw std::bad_alloc();
        }
        key = hashedKey.data();
        keyLength = static_cast<int>(hashedLength);
    }

    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    unsigned int macLength = 0;
    // Only an allocation failure inside OpenSSL makes HMAC() fail.
    if (HMAC(md, key, keyLength, message.data(), message.size(), mac.data(), &macLength) ==
            nullptr ||
        macLength < 20) {
        OPENSSL_cleanse(hashedKey.data(), hashedKey.size());
        throw std::bad_alloc();
    }
    OPENSSL_cleanse(hashedKey.data(), hashedKey.size());

    return truncatedCode(mac.data(), macLength, digits);
}

std::uint64_t totpCounter(std::int64_t period, Date time) {
    const double steps = unixSeconds(time) / static_cast<double>(std::max<std::int64_t>(period, 1));
    constexpr double kTwoTo64 = 18446744073709551616.0;
    if (steps >= kTwoTo64) { // also +infinity: converting it would be undefined
        return UINT64_MAX;
    }
    return static_cast<std::uint64_t>(steps);
}

std::string currentCode(std::string_view secret, OTPAlgorithm algorithm, std::int64_t digits,
                        std::int64_t period, Date time) {
    std::optional<Bytes> key = base32Decode(secret);
    if (!key) {
        return std::string(
            static_cast<std::size_t>(std::clamp<std::int64_t>(digits, 0, kMaxPlaceholderLength)),
            '-');
    }
    const WipeOnExit wipe{*key};
    return totpCode(*key, totpCounter(period, time), algorithm, digits);
}

std::string currentCode(const Account& account, Date time) {
    return currentCode(account.secret, account.algorithm, account.digits, account.period, time);
}

std::string currentCode(const AccountDraft& draft, Date time) {
    return currentCode(draft.secret, draft.algorithm, draft.digits, draft.period, time);
}

std::string groupedCode(std::string_view code) {
    // Count and split by Unicode scalars (UTF-8 lead bytes), never inside one.
    const auto isLeadByte = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; };
    const auto length =
        static_cast<std::size_t>(std::count_if(code.begin(), code.end(), isLeadByte));
    if (length < 5) {
        return std::string(code);
    }
    std::size_t firstHalf = length / 2;
    std::size_t split = 0;
    for (; split < code.size(); ++split) {
        if (isLeadByte(code[split]) && firstHalf-- == 0) {
            break;
        }
    }
    std::string grouped;
    grouped.reserve(code.size() + 1);
    grouped.append(code.substr(0, split)).push_back(' ');
    grouped.append(code.substr(split));
    return grouped;
}

double secondsRemaining(std::int64_t period, Date time) {
    const auto p = static_cast<double>(std::max<std::int64_t>(period, 1));
    double t = unixSeconds(time);
    if (std::isinf(t)) {
        t = 0;
    }
    return p - std::fmod(t, p);
}

// The generator keeps the hash state after the key pads, using the low-level hash
// functions: the EVP layer's per-call dispatch costs more than the two compressions.
namespace {
template <typename Context, int (*Init)(Context*),
          int (*Update)(Context*, const void*, std::size_t), int (*Final)(unsigned char*, Context*),
          std::size_t BlockSize, std::size_t DigestSize>
struct HmacHash {
    using ContextType = Context;
    static constexpr std::size_t blockSize = BlockSize;
    static constexpr std::size_t digestSize = DigestSize;
    static void init(Context* c) { Init(c); }
    static void update(Context* c, const void* data, std::size_t length) {
        Update(c, data, length);
    }
    static void final(unsigned char* out, Context* c) { Final(out, c); }
};
using HmacSha1 = HmacHash<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final, 64, 20>;
using HmacSha256 = HmacHash<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final, 64, 32>;
using HmacSha512 = HmacHash<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final, 128, 64>;

template <typename Hash> struct KeyedHmac {
    static constexpr std::size_t digestSize = Hash::digestSize;
    typename Hash::ContextType inner; ///< has absorbed key XOR ipad
    typename Hash::ContextType outer; ///< has absorbed key XOR opad

    explicit KeyedHmac(std::span<const std::uint8_t> secret) {
        // RFC 2104: a key longer than the block is replaced by its hash; then zero-padded.
        std::array<unsigned char, Hash::blockSize> key{};
        if (secret.size() > Hash::blockSize) {
            typename Hash::ContextType c;
            Hash::init(&c);
            Hash::update(&c, secret.data(), secret.size());
            Hash::final(key.data(), &c);
            OPENSSL_cleanse(&c, sizeof c);
        } else {
            std::copy(secret.begin(), secret.end(), key.begin());
        }
        std::array<unsigned char, Hash::blockSize> pad{};
        for (auto [context, mask] : {std::pair{&inner, 0x36}, std::pair{&outer, 0x5c}}) {
            for (std::size_t i = 0; i < Hash::blockSize; ++i) {
                pad[i] = static_cast<unsigned char>(key[i] ^ mask);
            }
            Hash::init(context);
            Hash::update(context, pad.data(), pad.size());
        }
        OPENSSL_cleanse(key.data(), key.size());
        OPENSSL_cleanse(pad.data(), pad.size());
    }
    ~KeyedHmac() {
        OPENSSL_cleanse(&inner, sizeof inner);
        OPENSSL_cleanse(&outer, sizeof outer);
    }
    KeyedHmac(const KeyedHmac&) = delete;
    KeyedHmac& operator=(const KeyedHmac&) = delete;

    void mac(const std::array<unsigned char, 8>& message, unsigned char* out) const {
        std::array<unsigned char, Hash::digestSize> innerHash{};
        typename Hash::ContextType work = inner;
        Hash::update(&work, message.data(), message.size());
        Hash::final(innerHash.data(), &work);
        work = outer;
        Hash::update(&work, innerHash.data(), innerHash.size());
        Hash::final(out, &work);
        OPENSSL_cleanse(&work, sizeof work);
    }
};
} // namespace

struct TotpGenerator::State {
    std::int64_t digits = 6;
    std::variant<KeyedHmac<HmacSha1>, KeyedHmac<HmacSha256>, KeyedHmac<HmacSha512>> hmac;

    State(std::span<const std::uint8_t> secret, OTPAlgorithm algorithm, std::int64_t digits)
        : digits(digits), hmac(makeHmac(secret, algorithm)) {}

    static decltype(hmac) makeHmac(std::span<const std::uint8_t> secret, OTPAlgorithm algorithm) {
        switch (algorithm) {
        case OTPAlgorithm::sha256:
            return decltype(hmac)(std::in_place_index<1>, secret);
        case OTPAlgorithm::sha512:
            return decltype(hmac)(std::in_place_index<2>, secret);
        case OTPAlgorithm::sha1:
            break;
        }
        return decltype(hmac)(std::in_place_index<0>, secret);
    }
};

TotpGenerator::TotpGenerator(std::span<const std::uint8_t> secret, OTPAlgorithm algorithm,
                             std::int64_t digits)
    : state_(std::make_unique<State>(secret, algorithm, digits)) {}

TotpGenerator::~TotpGenerator() = default;

std::string TotpGenerator::code(std::uint64_t counter) {
    std::array<unsigned char, 8> message{};
    for (int i = 7; i >= 0; --i) {
        message[static_cast<std::size_t>(i)] = static_cast<unsigned char>(counter & 0xFF);
        counter >>= 8;
    }
    std::array<unsigned char, 64> mac{};
    const unsigned macLength = std::visit(
        [&](const auto& hmac) {
            hmac.mac(message, mac.data());
            return static_cast<unsigned>(std::remove_cvref_t<decltype(hmac)>::digestSize);
        },
        state_->hmac);
    return truncatedCode(mac.data(), macLength, state_->digits);
}

} // namespace tallowin
