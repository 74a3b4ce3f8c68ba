// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/VaultEnvelope.h"

#include "core/Base64.h"
#include "core/FileIO.h"
#include "core/JSONMembers.h"
#include "core/VaultContentsJSON.h"
#include "core/VaultCrypto.h"
#include "core/VaultError.h"
#include "core/VaultJSON.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
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

/// Parses JSON text, counting every value (keys included) against one allowance so that
/// no envelope, however it is split up, builds more than kMaxEnvelopeJSONValues of them.
class BoundedParser {
public:
    [[nodiscard]] Json parse(std::string_view text) {
        const Json::parser_callback_t count = [this](int, Json::parse_event_t event, Json&) {
            if (event != Json::parse_event_t::object_end &&
                event != Json::parse_event_t::array_end) {
                if (left_ == 0) {
                    throw JSONDecodeError("too many values in the envelope");
                }
                --left_;
            }
            return true;
        };
        Json value = Json::parse(text, count, false);
        if (value.is_discarded()) {
            throw JSONDecodeError("not valid JSON");
        }
        return value;
    }
    /// Counts one value that was read without the parser.
    void charge() {
        if (left_ == 0) {
            throw JSONDecodeError("too many values in the envelope");
        }
        --left_;
    }

private:
    std::size_t left_ = kMaxEnvelopeJSONValues;
};

constexpr std::array<bool, 256> kBase64Characters = [] {
    std::array<bool, 256> table{};
    for (const char c :
         std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=")) {
        table[static_cast<unsigned char>(c)] = true;
    }
    return table;
}();

/// The bytes of a string token made of base64 characters only, slashes written plain or
/// escaped ("\/"): such a token is valid JSON for sure. Nothing for any other token;
/// an empty optional inside when the base64 itself is bad.
std::optional<std::optional<Bytes>> plainBase64Token(std::string_view token) {
    if (token.size() < 2 || token.front() != '"' || token.back() != '"') {
        return std::nullopt;
    }
    token = token.substr(1, token.size() - 2);
    bool escaped = false;
    for (std::size_t i = 0; i < token.size(); ++i) {
        if (token[i] == '\\' && i + 1 < token.size() && token[i + 1] == '/') {
            escaped = true;
            ++i;
        } else if (!kBase64Characters[static_cast<unsigned char>(token[i])]) {
            return std::nullopt;
        }
    }
    if (!escaped) {
        return base64Decode(token);
    }
    std::string text;
    std::remove_copy(token.begin(), token.end(), std::back_inserter(text), '\\');
    return base64Decode(text);
}

/// The quick way to read an envelope: the top-level members are split apart, the long
/// base64 values of "payload" and "wrappedKey" are decoded straight from the text, and
/// everything else goes through the JSON parser, so that a vault of many accounts is not
/// lexed character by character. Nothing when the text takes another shape (a byte-order
/// mark, broken structure, bad base64): the caller then parses it whole. Fails
/// with JSONDecodeError only where parsing it whole fails too.
std::optional<VaultEnvelope> readEnvelopeQuickly(std::string_view text) {
    // The JSON parser takes a NUL byte for the end of its input: handed one member's value
    // alone, it would read "7\0junk" as 7 where the whole document is plainly broken.
    if (text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const auto members = splitObjectMembers(text, kMaxEnvelopeJSONValues);
    if (!members) {
        return std::nullopt;
    }
    BoundedParser parser;
    parser.charge(); // the object itself, so that both ways of reading count alike
    Json object = Json::object();
    std::optional<Bytes> payload;
    std::optional<Bytes> wrappedKey;
    for (const RawJSONMember& member : *members) {
        const Json key = parser.parse(member.key);
        if (!key.is_string()) {
            return std::nullopt;
        }
        const std::string& name = key.get_ref<const std::string&>();
        std::optional<Bytes>* direct = name == "payload"      ? &payload
                                       : name == "wrappedKey" ? &wrappedKey
                                                              : nullptr;
        std::optional<std::optional<Bytes>> bytes;
        if (direct && (bytes = plainBase64Token(member.value))) {
            *direct = std::move(*bytes);
            if (!*direct) {
                return std::nullopt;
            }
            parser.charge();
            object[name] = ""; // read below
        } else {
            if (direct) {
                direct->reset(); // a later duplicate key wins, as in the parser
            }
            object[name] = parser.parse(member.value);
        }
    }
    VaultEnvelope envelope = envelopeFromJSON(object);
    if (payload) {
        envelope.payload = std::move(*payload);
    }
    if (wrappedKey) {
        envelope.wrappedKey = std::move(*wrappedKey);
    }
    return envelope;
}

} // namespace

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
    const SecretBytes plaintext = writeContentsJSON(accounts);
    return sealBox(plaintext.span(), key.key.span(), associatedData(kPayloadPrefix, key.id),
                   random);
}

Bytes encodeEnvelope(const VaultEnvelope& envelope) {
    // Written member by member in sorted key order: the result is what encodeVaultJSON
    // makes of the whole object (base64 text needs no escaping), without running the
    // payload through the JSON serializer.
    const std::string salt = base64Encode(envelope.kdf.salt);
    const std::string wrappedKey = base64Encode(envelope.wrappedKey);
    const std::string payload = base64Encode(envelope.payload);
    Bytes out;
    out.reserve(payload.size() + wrappedKey.size() + salt.size() + envelope.format.size() +
                envelope.keyID.size() + envelope.savedBy.size() + envelope.kdf.algorithm.size() +
                256);
    const auto append = [&out](std::string_view text) {
        const std::size_t at = out.size();
        out.resize(at + text.size());
        std::memcpy(out.data() + at, text.data(), text.size());
    };
    const auto appendBase64 = [&](std::string_view text) {
        append("\"");
        append(text);
        append("\"");
    };
    append(R"({"format":)");
    append(encodeVaultJSON(envelope.format));
    append(R"(,"kdf":{"algorithm":)");
    append(encodeVaultJSON(envelope.kdf.algorithm));
    append(R"(,"iterations":)");
    append(encodeVaultJSON(envelope.kdf.iterations));
    append(R"(,"salt":)");
    appendBase64(salt);
    append(R"(},"keyID":)");
    append(encodeVaultJSON(envelope.keyID));
    append(R"(,"payload":)");
    appendBase64(payload);
    append(R"(,"savedAt":)");
    append(encodeVaultJSON(dateToJSON(envelope.savedAt)));
    append(R"(,"savedBy":)");
    append(encodeVaultJSON(envelope.savedBy));
    append(R"(,"version":)");
    append(encodeVaultJSON(envelope.version));
    append(R"(,"wrappedKey":)");
    appendBase64(wrappedKey);
    append("}");
    return out;
}

VaultEnvelope decodeEnvelope(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxVaultFileBytes) {
        throw VaultError(VaultError::corrupted);
    }
    VaultEnvelope envelope;
    try {
        auto quick = readEnvelopeQuickly(asText(bytes));
        envelope =
            quick ? std::move(*quick) : envelopeFromJSON(BoundedParser().parse(asText(bytes)));
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
    return writeContentsJSON(contents.accounts);
}

VaultContents decodeContents(std::span<const std::uint8_t> json) {
    // The quick reader takes every document the program writes; odd ones (a byte-order
    // mark, invalid JSON, deep nesting) go through the tree.
    const std::string_view text = asText(json);
    auto accounts = readContentsJSONQuickly(text);
    return VaultContents{accounts ? std::move(*accounts) : readContentsJSONTree(text)};
}

} // namespace tallowin
