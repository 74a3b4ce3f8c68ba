// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/KeychainItems.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tallowin {

/// A keychain held in memory, for tests. Items are found like the Secret Service finds them:
/// by matching the query's attributes (service, account, and group when not empty).
class InMemoryKeychain final : public KeychainItems {
public:
    struct Item {
        std::map<std::string, std::string> attributes;
        KeychainItemAttributes created;
        SecretBytes data;
    };

    KeychainStatus add(const KeychainQuery& query, const KeychainItemAttributes& attributes,
                       std::span<const std::uint8_t> data) override;
    KeychainStatus copyData(const KeychainQuery& query, const AuthenticationContext* context,
                            SecretBytes& data) override;
    KeychainStatus copyAttributes(const KeychainQuery& query, const AuthenticationContext* context,
                                  std::string& label) override;
    KeychainStatus remove(const KeychainQuery& query) override;

    /// No service: every call gives serviceUnavailable.
    void setAvailable(bool available);
    /// A locked keychain: items are found but not read, written or removed.
    void setLocked(bool locked);

    /// Copies of the items, for inspection.
    [[nodiscard]] std::vector<Item> items() const;
    /// Puts raw data under a query, as another writer might have (no checks).
    void putRaw(const KeychainQuery& query, std::string_view data, std::string label = {});
    /// How many reads were made with a context that allows interaction.
    [[nodiscard]] int interactiveReads() const;

private:
    [[nodiscard]] std::vector<Item>::iterator find(const KeychainQuery& query);
    void noteRead(const AuthenticationContext* context);

    mutable std::mutex mutex_;
    std::vector<Item> items_;
    bool available_ = true;
    bool locked_ = false;
    int interactiveReads_ = 0;
};

} // namespace tallowin
