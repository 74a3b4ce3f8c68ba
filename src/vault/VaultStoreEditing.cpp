// SPDX-License-Identifier: GPL-3.0-or-later
// Changes to the account list made on this device, and the published lists derived from it.
#include "core/Base32.h"
#include "core/Unicode.h"
#include "vault/VaultStore.h"

#include <algorithm>
#include <set>

namespace tallowin {

namespace {
std::string_view displayKey(const Account& account) {
    return account.issuer.empty() ? std::string_view(account.label)
                                  : std::string_view(account.issuer);
}

/// Display order: the display key, then the label, both case-insensitively in the user's
/// locale, then the id (byte order of the id is the order of its upper-case text).
bool displayedBefore(const Account* a, const Account* b) {
    if (const int order = localizedCaseInsensitiveCompare(displayKey(*a), displayKey(*b))) {
        return order < 0;
    }
    if (const int order = localizedCaseInsensitiveCompare(a->label, b->label)) {
        return order < 0;
    }
    return a->id < b->id;
}

Account* findAccount(std::vector<Account>& accounts, const Uuid& id) {
    const auto it = std::find_if(accounts.begin(), accounts.end(),
                                 [&id](const Account& account) { return account.id == id; });
    return it == accounts.end() ? nullptr : &*it;
}
} // namespace

void VaultStore::publish() {
    std::vector<const Account*> live;
    std::vector<const Account*> deleted;
    live.reserve(all_.size());
    for (const Account& account : all_) {
        if (!isDeleted(account)) {
            live.push_back(&account);
        } else if (!account.secret.empty()) {
            deleted.push_back(&account); // erased accounts stay hidden until they are purged
        }
    }
    std::sort(live.begin(), live.end(), displayedBefore);
    std::sort(deleted.begin(), deleted.end(), [](const Account* a, const Account* b) {
        return *a->deletedAt != *b->deletedAt ? *a->deletedAt > *b->deletedAt : a->id < b->id;
    });

    accounts_.clear();
    accounts_.reserve(live.size());
    for (const Account* account : live) {
        accounts_.push_back(*account);
    }
    emit accountsChanged();
    recentlyDeleted_.clear();
    recentlyDeleted_.reserve(deleted.size());
    for (const Account* account : deleted) {
        recentlyDeleted_.push_back(*account);
    }
    emit recentlyDeletedChanged();
}

AddResult VaultStore::addDrafts(const std::vector<AccountDraft>& drafts) {
    const Date time = now();
    const std::string device = deviceID();

    // The setup keys already present, as bytes; keys that do not decode all count as one.
    std::set<Bytes> presentKeys;
    bool undecodablePresent = false;
    for (const Account& account : all_) {
        if (isDeleted(account)) {
            continue;
        }
        if (std::optional<Bytes> key = base32Decode(account.secret)) {
            presentKeys.insert(std::move(*key));
        } else {
            undecodablePresent = true;
        }
    }

    AddResult result;
    for (const AccountDraft& draft : drafts) {
        std::optional<Bytes> key = base32Decode(draft.secret);
        const bool present = key ? presentKeys.contains(*key) : undecodablePresent;
        if (present) {
            ++result.alreadyPresent;
            continue;
        }
        if (key) {
            presentKeys.insert(std::move(*key));
        } else {
            undecodablePresent = true;
        }
        all_.push_back(makeAccount(draft, device, time, *env_.random));
        ++result.added;
    }
    publish();
    startSync();
    return result;
}

void VaultStore::updateAccount(const Account& edited) {
    if (Account* account = findAccount(all_, edited.id)) {
        *account = edited;
        account->updatedAt = now();
        account->updatedBy = deviceID();
    }
    publish();
    startSync();
}

void VaultStore::moveToRecentlyDeleted(const Uuid& id) {
    if (Account* account = findAccount(all_, id)) {
        const Date time = now();
        account->deletedAt = time;
        account->updatedAt = time;
        account->updatedBy = deviceID();
    }
    publish();
    startSync();
}

void VaultStore::restoreDeleted(const Uuid& id) {
    if (Account* account = findAccount(all_, id)) {
        account->deletedAt.reset();
        account->updatedAt = now();
        account->updatedBy = deviceID();
    }
    publish();
    startSync();
}

void VaultStore::deleteNow(const Uuid& id) {
    if (Account* account = findAccount(all_, id)) {
        // The setup key is wiped from every device at its next sync; the tombstone keeps the
        // account's identity until it is purged.
        account->secret.clear();
        account->websites.clear();
        account->updatedAt = now();
        account->updatedBy = deviceID();
    }
    publish();
    startSync();
}

} // namespace tallowin
