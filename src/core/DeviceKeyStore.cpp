// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/DeviceKeyStore.h"

#include "core/KeychainRecord.h"
#include "core/VaultError.h"
#include "core/VaultJSON.h"

namespace tallowin {

SecretBytes DeviceKeyStore::Stored::encode() const {
    return encodeKeychainRecord(VaultKey{keyID, key}, std::nullopt);
}

DeviceKeyStore::Stored DeviceKeyStore::Stored::decode(std::span<const std::uint8_t> data) {
    KeychainRecord record = decodeKeychainRecord(data, false);
    return Stored{std::move(record.key.id), std::move(record.key.key)};
}

KeychainQuery DeviceKeyStore::query() const {
    return KeychainQuery{std::string(kDeviceKeyService), std::string(kDeviceKeyAccount),
                         accessGroup_};
}

void DeviceKeyStore::save(const VaultKey& key) {
    const KeychainQuery base = query();
    (void)keychain_.remove(base);
    if (!biometrics_.canEvaluatePolicy()) {
        throw KeychainError(KeychainStatus::protectionUnavailable);
    }
    const SecretBytes data = Stored{key.id, key.key}.encode();
    const KeychainItemAttributes attributes{std::string(kDeviceKeyLabel),
                                            KeychainProtection::biometryCurrentSetOrWatch};
    const KeychainStatus status = keychain_.add(base, attributes, data.span());
    if (status != KeychainStatus::success) {
        throw KeychainError(status);
    }
}

VaultKey DeviceKeyStore::load(std::string_view reason) {
    if (!exists()) {
        throw VaultError(VaultError::keyUnavailable);
    }
    if (biometrics_.evaluatePolicy(reason) != BiometricResult::success) {
        throw VaultError(VaultError::keyUnavailable);
    }
    const AuthenticationContext context{std::string(reason), false};
    SecretBytes data;
    if (keychain_.copyData(query(), &context, data) != KeychainStatus::success) {
        throw VaultError(VaultError::keyUnavailable);
    }
    try {
        Stored stored = Stored::decode(data.span());
        return VaultKey{std::move(stored.keyID), std::move(stored.key)};
    } catch (const JSONDecodeError&) {
        throw VaultError(VaultError::keyUnavailable);
    }
}

bool DeviceKeyStore::exists() {
    const AuthenticationContext noInteraction{{}, true};
    std::string label;
    const KeychainStatus status = keychain_.copyAttributes(query(), &noInteraction, label);
    return status == KeychainStatus::success || status == KeychainStatus::interactionNotAllowed;
}

void DeviceKeyStore::remove() {
    (void)keychain_.remove(query());
}

} // namespace tallowin
