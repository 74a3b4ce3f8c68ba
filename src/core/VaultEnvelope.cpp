// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/VaultEnvelope.h"

#include "core/FileIO.h"
#include "core/VaultCrypto.h"
#include "core/VaultError.h"
#include "core/VaultJSON.h"

#include <string>

namespace tallowin {

namespace {
std::string associatedData(std::string_view prefix, std::string_view keyID) {
    std::string text(prefix);
    text += keyID;
    return text;
}

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

Json envelopeToJSON(const VaultEnvelope& envelope) {
    Json kdf = Json::object();
    kdf["algorithm"] = envelope.kdf.algorithm;
    kdf["iterations"] = envelope.kdf.iterations;
    kdf["salt"] = bytesToJSON(envelope.kdf.salt);

    Json object = Json::object();
    object["format"] = envelope.format;
    object["version"] = envelope.version;
    object["keyID"] = envelope.keyID;
    object["kdf"] = std::move(kdf);
    object["wrappedKey"] = bytesToJSON(envelope.wrappedKey);
    object["payload"] = bytesToJSON(envelope.payload);
    object["savedAt"] = dateToJSON(envelope.savedAt);
    object["savedBy"] = envelope.savedBy;
    return object;
}

VaultEnvelope envelopeFromJSON(const Json& object) {
    requireObject(object, "the envelope");
    VaultEnvelope envelope;
    envelope.format = requireString(object, "format");
    envelope.version = requireInt(object, "version");
    envelope.keyID = requireString(object, "keyID");
    const Json& kdf = requireMember(object, "kdf");
    requireObject(kdf, "\"kdf\"");
    envelope.kdf.algorithm = requireString(kdf, "algorithm");
    envelope.kdf.iterations = requireInt(kdf, "iterations");
    envelope.kdf.salt = requireBytes(kdf, "salt");
    envelope.wrappedKey = requireBytes(object, "wrappedKey");
    envelope.payload = requireBytes(object, "payload");
    envelope.savedAt = requireDate(object, "savedAt");
    envelope.savedBy = requireString(object, "savedBy");
    return envelope;
}

/// Parses envelope JSON, giving up once it holds more than kMaxEnvelopeJSONValues values.
Json parseEnvelopeJSON(std::string_view text) {
    std::size_t values = 0;
    const Json::parser_callback_t countValues = [&values](int, Json::parse_event_t event, Json&) {
        if (event != Json::parse_event_t::object_end && event != Json::parse_event_t::array_end &&
            ++values > kMaxEnvelopeJSONValues) {
            throw JSONDecodeError("too many values in the envelope");
        }
        return true;
    };
    Json value = Json::parse(text, countValues, false);
    if (value.is_discarded()) {
        throw JSONDecodeError("not valid JSON");
    }
    return value;
}

Json contentsToJSON(std::span<const Account> accounts) {
    Json list = Json::array();
    for (const Account& account : accounts) {
        list.push_back(accountToJSON(account));
    }
    Json object = Json::object();
    object["accounts"] = std::move(list);
    return object;
}

SecretBytes encodeAccounts(std::span<const Account> accounts) {
    std::string text = encodeVaultJSON(contentsToJSON(accounts));
    SecretBytes bytes(asBytes(text));
    OPENSSL_cleanse(text.data(), text.size());
    return bytes;
}
} // namespace

VaultEnvelope makeEnvelopeHeader(std::string_view format, std::string_view password,
                                 const VaultKey& key, std::string_view writer, Date now,
                                 RandomSource& random, std::int64_t iterations) {
    VaultEnvelope envelope;
    envelope.format = format;
    envelope.version = kEnvelopeVersion;
    envelope.keyID = key.id;
    envelope.kdf.algorithm = kKDFAlgorithm;
    envelope.kdf.iterations = iterations;
    envelope.kdf.salt = randomBytes(kKDFSaltLength, random);
    const SecretBytes wrappingKey =
        deriveWrappingKey(password, envelope.kdf.salt, envelope.kdf.iterations);
    envelope.wrappedKey =
        sealBox(key.key.span(), wrappingKey.span(), associatedData(kKeyWrapPrefix, key.id), random);
    envelope.savedAt = now;
    envelope.savedBy = writer;
    return envelope;
}

Bytes sealContents(std::span<const Account> accounts, const VaultKey& key, RandomSource& random) {
    const SecretBytes plaintext = encodeAccounts(accounts);
    return sealBox(plaintext.span(), key.key.span(), associatedData(kPayloadPrefix, key.id),
                   random);
}

Bytes encodeEnvelope(const VaultEnvelope& envelope) {
    return toBytes(encodeVaultJSON(envelopeToJSON(envelope)));
}

VaultEnvelope decodeEnvelope(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxVaultFileBytes) {
        throw VaultError(VaultError::corrupted);
    }
    VaultEnvelope envelope;
    try {
        envelope = envelopeFromJSON(parseEnvelopeJSON(asText(bytes)));
    } catch (const JSONDecodeError&) {
        throw VaultError(VaultError::corrupted);
    } catch (const Json::exception&) {
        throw VaultError(VaultError::corrupted);
    }
    // Only a well-formed envelope is judged by its version.
    if (envelope.version >= 2) {
        throw VaultError(VaultError::unsupportedFormat);
    }
    return envelope;
}

VaultKey unwrapVaultKey(const VaultEnvelope& envelope, std::string_view password) {
    const SecretBytes wrappingKey =
        deriveWrappingKey(password, envelope.kdf.salt, envelope.kdf.iterations);
    VaultKey key;
    try {
        key.key = openBox(envelope.wrappedKey, wrappingKey.span(),
                          associatedData(kKeyWrapPrefix, envelope.keyID));
    } catch (const SealedBoxError&) {
        throw VaultError(VaultError::wrongPassword);
    }
    // Authentic but not a key: only someone who knows the password could have written it.
    if (key.key.size() != kSymmetricKeyLength) {
        throw VaultError(VaultError::corrupted);
    }
    key.id = envelope.keyID;
    return key;
}

std::vector<Account> openContents(const VaultEnvelope& envelope, const VaultKey& key) {
    if (envelope.keyID != key.id) {
        throw VaultError(VaultError::foreignVault);
    }
    SecretBytes plaintext;
    try {
        plaintext =
            openBox(envelope.payload, key.key.span(), associatedData(kPayloadPrefix, key.id));
    } catch (const SealedBoxError&) {
        throw VaultError(VaultError::corrupted);
    }
    return decodeContents(plaintext.span()).accounts;
}

Bytes makeBackup(std::span<const Account> accounts, std::string_view password,
                 std::string_view writer, Date now, RandomSource& random, std::int64_t iterations) {
    const VaultKey key = newVaultKey(random);
    VaultEnvelope envelope =
        makeEnvelopeHeader(kBackupFormat, password, key, writer, now, random, iterations);
    envelope.payload = sealContents(accounts, key, random);
    envelope.savedAt = now;
    envelope.savedBy = writer;
    return encodeEnvelope(envelope);
}

SecretBytes encodeContents(const VaultContents& contents) {
    return encodeAccounts(contents.accounts);
}

VaultContents decodeContents(std::span<const std::uint8_t> json) {
    const Json object = parseVaultJSON(asText(json));
    requireObject(object, "the vault contents");
    const Json& list = requireMember(object, "accounts");
    if (!list.is_array()) {
        throw JSONDecodeError("expected an array for \"accounts\"");
    }
    VaultContents contents;
    contents.accounts.reserve(list.size());
    for (const Json& account : list) {
        contents.accounts.push_back(accountFromJSON(account));
    }
    return contents;
}

} // namespace tallowin
