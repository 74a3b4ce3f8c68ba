// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/VaultCrypto.h"

#include "core/Unicode.h"
#include "core/VaultError.h"

#include <climits>
#include <memory>
#include <openssl/evp.h>
#include <string>

namespace tallowin {

namespace {
struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

const unsigned char* bytePointer(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

/// A cipher context set up for AES-256-GCM with `key` and `nonce`, with the associated
/// data already fed in; null on any error.
CipherContext startGCM(bool encrypt, std::span<const std::uint8_t> key,
                       std::span<const std::uint8_t> nonce, std::string_view associatedData) {
    if (key.size() != kSymmetricKeyLength || nonce.size() != kBoxNonceLength ||
        associatedData.size() > INT_MAX) {
        return nullptr;
    }
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context) {
        return nullptr;
    }
    const int direction = encrypt ? 1 : 0;
    if (EVP_CipherInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr, direction) !=
            1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN,
                            static_cast<int>(kBoxNonceLength), nullptr) != 1 ||
        EVP_CipherInit_ex(context.get(), nullptr, nullptr, key.data(), nonce.data(), direction) !=
            1) {
        return nullptr;
    }
    if (!associatedData.empty()) {
        int length = 0;
        if (EVP_CipherUpdate(context.get(), nullptr, &length, bytePointer(associatedData),
                             static_cast<int>(associatedData.size())) != 1) {
            return nullptr;
        }
    }
    return context;
}
} // namespace

SecretBytes deriveWrappingKey(std::string_view password, std::span<const std::uint8_t> salt,
                              std::int64_t iterations) {
    // The format allows any unsigned 32-bit count; we accept far less (see the constant).
    static_assert(kMaxAcceptedKDFIterations <= INT_MAX);
    if (iterations < 1 || iterations > kMaxAcceptedKDFIterations || salt.size() > INT_MAX) {
        throw VaultError(VaultError::corrupted);
    }
    std::string normalized = toNFC(password);
    SecretBytes key(kSymmetricKeyLength);
    const bool ok =
        normalized.size() <= INT_MAX &&
        PKCS5_PBKDF2_HMAC(normalized.data(), static_cast<int>(normalized.size()), salt.data(),
                          static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                          static_cast<int>(key.size()), key.data()) == 1;
    OPENSSL_cleanse(normalized.data(), normalized.size());
    if (!ok) {
        throw VaultError(VaultError::corrupted);
    }
    return key;
}

Bytes sealBox(std::span<const std::uint8_t> plaintext, std::span<const std::uint8_t> key,
              std::string_view associatedData, RandomSource& random) {
    if (plaintext.size() > static_cast<std::size_t>(INT_MAX) - kBoxOverhead) {
        throw VaultError(VaultError::corrupted);
    }
    Bytes box(plaintext.size() + kBoxOverhead);
    const std::span<std::uint8_t> nonce(box.data(), kBoxNonceLength);
    random.fill(nonce);
    const CipherContext context = startGCM(true, key, nonce, associatedData);
    if (!context) {
        throw VaultError(VaultError::corrupted);
    }
    std::uint8_t* const ciphertext = box.data() + kBoxNonceLength;
    int length = 0;
    int finalLength = 0;
    if ((!plaintext.empty() &&
         EVP_EncryptUpdate(context.get(), ciphertext, &length, plaintext.data(),
                           static_cast<int>(plaintext.size())) != 1) ||
        EVP_EncryptFinal_ex(context.get(), ciphertext + length, &finalLength) != 1 ||
        static_cast<std::size_t>(length) + static_cast<std::size_t>(finalLength) !=
            plaintext.size() ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kBoxTagLength),
                            ciphertext + plaintext.size()) != 1) {
        throw VaultError(VaultError::corrupted);
    }
    return box;
}

SecretBytes openBox(std::span<const std::uint8_t> box, std::span<const std::uint8_t> key,
                    std::string_view associatedData) {
    if (box.size() < kBoxOverhead || box.size() - kBoxOverhead > INT_MAX) {
        throw SealedBoxError();
    }
    const auto nonce = box.first(kBoxNonceLength);
    const auto ciphertext = box.subspan(kBoxNonceLength, box.size() - kBoxOverhead);
    // The tag is handed to OpenSSL through a non-const pointer; it is only read.
    Bytes tag(box.end() - kBoxTagLength, box.end());
    const CipherContext context = startGCM(false, key, nonce, associatedData);
    if (!context) {
        throw SealedBoxError();
    }
    SecretBytes plaintext(ciphertext.size());
    int length = 0;
    int finalLength = 0;
    if ((!ciphertext.empty() &&
         EVP_DecryptUpdate(context.get(), plaintext.data(), &length, ciphertext.data(),
                           static_cast<int>(ciphertext.size())) != 1) ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kBoxTagLength),
                            tag.data()) != 1 ||
        EVP_DecryptFinal_ex(context.get(), plaintext.data() + length, &finalLength) != 1 ||
        static_cast<std::size_t>(length) + static_cast<std::size_t>(finalLength) !=
            plaintext.size()) {
        throw SealedBoxError();
    }
    return plaintext;
}

} // namespace tallowin
