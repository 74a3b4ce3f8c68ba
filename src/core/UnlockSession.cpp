// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/UnlockSession.h"

#include "core/KeychainRecord.h"
#include "core/PasswordPolicy.h"
#include "core/VaultJSON.h"

namespace tallowin {

SecretBytes UnlockSession::Stored::encode() const {
    return encodeKeychainRecord(VaultKey{keyID, key}, expires);
}

UnlockSession::Stored UnlockSession::Stored::decode(std::span<const std::uint8_t> data) {
    KeychainRecord record = decodeKeychainRecord(data, true);
    return Stored{std::move(record.key.id), std::move(record.key.key), *record.expires};
}

KeychainQuery UnlockSession::query() const {
    return KeychainQuery{std::string(kUnlockSessionService), std::string(kUnlockSessionAccount),
                         accessGroup_};
}

void UnlockSession::save(const VaultKey& key) {
    const KeychainQuery base = query();
    (void)keychain_.remove(base);
    const SecretBytes data =
        Stored{key.id, key.key, clock_.now().adding(kUnlockSessionLifetime)}.encode();
    const KeychainItemAttributes attributes{std::string(kUnlockSessionLabel),
                                            KeychainProtection::whenUnlockedThisDeviceOnly};
    (void)keychain_.add(base, attributes, data.span());
}

std::optional<VaultKey> UnlockSession::load() {
    const KeychainQuery base = query();
    SecretBytes data;
    if (keychain_.copyData(base, nullptr, data) != KeychainStatus::success) {
        return std::nullopt;
    }
    std::optional<Stored> stored;
    try {
        stored = Stored::decode(data.span());
    } catch (const JSONDecodeError&) {
        return std::nullopt; // left in place: a newer writer's record is not ours to delete
    }
    const Date now = clock_.now();
    if (stored->expires > now && passwordEntryIsRecent(lastPasswordEntry(defaults_), now)) {
        return VaultKey{std::move(stored->keyID), std::move(stored->key)};
    }
    (void)keychain_.remove(base);
    return std::nullopt;
}

void UnlockSession::clear() {
    (void)keychain_.remove(query());
}

} // namespace tallowin
