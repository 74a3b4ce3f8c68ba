// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/KeychainRecord.h"

#include "core/Base64.h"
#include "core/VaultJSON.h"

#include <cstring>
#include <openssl/crypto.h>
#include <string>

namespace tallowin {

namespace {
constexpr std::size_t kKeyBytes = 32;

void wipe(std::string& text) {
    if (!text.empty()) {
        OPENSSL_cleanse(text.data(), text.size());
    }
}

void wipe(Bytes& bytes) {
    if (!bytes.empty()) {
        OPENSSL_cleanse(bytes.data(), bytes.size());
    }
}

/// Appends pieces to SecretBytes without leaving copies behind in reallocated buffers.
class SecretWriter {
public:
    explicit SecretWriter(std::size_t capacity) : buffer_(capacity) {}
    void append(std::string_view text) {
        if (size_ + text.size() > buffer_.size()) {
            SecretBytes bigger((size_ + text.size()) * 2);
            std::memcpy(bigger.data(), buffer_.data(), size_);
            buffer_ = std::move(bigger);
        }
        std::memcpy(buffer_.data() + size_, text.data(), text.size());
        size_ += text.size();
    }
    SecretBytes finish() {
        SecretBytes result(std::span<const std::uint8_t>(buffer_.data(), size_));
        return result;
    }

private:
    SecretBytes buffer_;
    std::size_t size_ = 0;
};

[[noreturn]] void fail(const char* message) {
    throw JSONDecodeError(message);
}
} // namespace

SecretBytes encodeKeychainRecord(const VaultKey& key, std::optional<Date> expires) {
    std::string keyText = base64Encode(key.key.span());
    SecretWriter writer(keyText.size() + key.id.size() + 96);
    writer.append("{");
    if (expires) {
        writer.append("\"expires\":");
        writer.append(dateToJSON(*expires).dump());
        writer.append(",");
    }
    writer.append("\"key\":\"");
    writer.append(keyText);
    writer.append("\",\"keyID\":");
    writer.append(Json(key.id).dump(-1, ' ', false, Json::error_handler_t::replace));
    writer.append("}");
    wipe(keyText);
    return writer.finish();
}

KeychainRecord decodeKeychainRecord(std::span<const std::uint8_t> data, bool withExpires) {
    if (data.size() > kMaxKeychainRecordBytes) {
        fail("keychain record too large");
    }
    Json record = Json::parse(data.begin(), data.end(), nullptr, false);
    if (record.is_discarded()) {
        fail("not valid JSON");
    }
    struct WipeKeyText {
        Json& record;
        ~WipeKeyText() {
            if (record.is_object()) {
                const auto it = record.find("key");
                if (it != record.end() && it->is_string()) {
                    wipe(it->get_ref<std::string&>());
                }
            }
        }
    } wipeKeyText{record};

    requireObject(record, "a keychain record");
    KeychainRecord result;
    result.key.id = requireString(record, "keyID");
    const Json& keyMember = requireMember(record, "key");
    if (!keyMember.is_string()) {
        fail("expected a string for \"key\"");
    }
    auto bytes = base64Decode(keyMember.get_ref<const std::string&>());
    if (!bytes) {
        fail("expected base64 data for \"key\"");
    }
    if (bytes->size() != kKeyBytes) {
        wipe(*bytes);
        fail("expected 32 key bytes for \"key\"");
    }
    result.key.key = SecretBytes(*bytes);
    wipe(*bytes);
    if (withExpires) {
        result.expires = requireDate(record, "expires");
    }
    return result;
}

} // namespace tallowin
