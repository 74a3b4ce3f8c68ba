// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Bytes.h"
#include "core/SharedConfiguration.h"
#include "core/VaultKey.h"
#include "platform/Biometrics.h"
#include "platform/KeychainItems.h"

#include <span>
#include <string>
#include <string_view>

namespace tallowin {

inline constexpr std::string_view kDeviceKeyService = "com.tallowin.vault-key";
inline constexpr std::string_view kDeviceKeyAccount = "vault-key";
inline constexpr std::string_view kDeviceKeyLabel = "Tallowin vault key";

/// The long-lived copy of the vault key on this device, released only by a biometric check.
/// The check is made here, before the item is read, and the item is only ever written on a
/// device that can evaluate it.
class DeviceKeyStore {
public:
    /// The JSON record kept in the item: {"key": base64 of the 32 key bytes, "keyID": id}.
    struct Stored {
        std::string keyID;
        SecretBytes key;

        [[nodiscard]] SecretBytes encode() const;
        /// Fails with JSONDecodeError.
        [[nodiscard]] static Stored decode(std::span<const std::uint8_t> data);
        friend bool operator==(const Stored&, const Stored&) = default;
    };

    DeviceKeyStore(KeychainItems& keychain, Biometrics& biometrics,
                   std::string accessGroup = std::string(TLWKeychainGroup))
        : keychain_(keychain), biometrics_(biometrics), accessGroup_(std::move(accessGroup)) {}

    /// Replaces the item. Fails with KeychainError: protectionUnavailable when the device
    /// cannot evaluate the biometric check, otherwise the status of the failed add.
    void save(const VaultKey& key);

    /// Runs the biometric check with `reason` (the application passes "unlock your 2FA
    /// codes"), then reads the key. Fails with VaultError::keyUnavailable in every failure
    /// case: no item, no keychain, the check cancelled or failed, an unreadable record. No
    /// check is shown when there is no item to release.
    [[nodiscard]] VaultKey load(std::string_view reason);

    /// Whether the item is there (also when locked); never asks the user anything.
    [[nodiscard]] bool exists();

    /// Removes the item; the result is ignored.
    void remove();

    [[nodiscard]] KeychainQuery query() const;

private:
    KeychainItems& keychain_;
    Biometrics& biometrics_;
    std::string accessGroup_;
};

} // namespace tallowin
