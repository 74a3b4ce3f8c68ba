// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/AccountMerge.h"

#include "core/Unicode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>

namespace tallowin {

namespace {
constexpr char kUnitSeparator = '\x1F';

/// Equal content fields give equal fingerprints, so this spares building and
/// normalising two fingerprints in the common case of identical copies.
bool sameContent(const Account& a, const Account& b) {
    return a.issuer == b.issuer && a.label == b.label && a.secret == b.secret &&
           a.algorithm == b.algorithm && a.digits == b.digits && a.period == b.period &&
           a.color == b.color && a.websites == b.websites;
}

struct UuidHash {
    std::size_t operator()(const Uuid& id) const noexcept {
        std::uint64_t high = 0;
        std::uint64_t low = 0;
        std::memcpy(&high, id.bytes.data(), sizeof high);
        std::memcpy(&low, id.bytes.data() + sizeof high, sizeof low);
        // splitmix64 finaliser: ids need not be random (they come from files).
        std::uint64_t x = high ^ (low * 0x9E3779B97F4A7C15ULL);
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
        return static_cast<std::size_t>(x ^ (x >> 31));
    }
};

bool isPurged(const Account& account, Date now) {
    // Negated so that a date that compares with nothing (NaN) is dropped, not kept forever.
    return account.deletedAt && !(now.since(*account.deletedAt) < kDeletedAccountRetentionSeconds);
}

/// createdAt ascending, then id; the byte order of ids is the order of their canonical
/// upper-case strings. NaN dates sort last so that the order stays strict and weak.
bool orderedBefore(const Account* a, const Account* b) {
    const double x = a->createdAt.sinceReference;
    const double y = b->createdAt.sinceReference;
    const bool xNaN = std::isnan(x);
    const bool yNaN = std::isnan(y);
    if (xNaN != yNaN) {
        return yNaN;
    }
    if (!xNaN && x != y) {
        return x < y;
    }
    return a->id < b->id;
}
} // namespace

std::string contentFingerprint(const Account& account) {
    std::string fingerprint;
    std::size_t size = account.issuer.size() + account.label.size() + account.secret.size() + 64;
    for (const std::string& site : account.websites) {
        size += site.size() + 1;
    }
    fingerprint.reserve(size);
    fingerprint += account.issuer;
    fingerprint += kUnitSeparator;
    fingerprint += account.label;
    fingerprint += kUnitSeparator;
    fingerprint += account.secret;
    fingerprint += kUnitSeparator;
    fingerprint += rawValue(account.algorithm);
    fingerprint += kUnitSeparator;
    fingerprint += std::to_string(account.digits);
    fingerprint += kUnitSeparator;
    fingerprint += std::to_string(account.period);
    fingerprint += kUnitSeparator;
    fingerprint += account.color ? std::to_string(*account.color) : std::string("-1");
    fingerprint += kUnitSeparator;
    for (std::size_t i = 0; i < account.websites.size(); ++i) {
        if (i > 0) {
            fingerprint += ',';
        }
        fingerprint += account.websites[i];
    }
    return fingerprint;
}

const Account& resolveConflict(const Account& existing, const Account& incoming) {
    if (existing.updatedAt != incoming.updatedAt) {
        return incoming.updatedAt > existing.updatedAt ? incoming : existing;
    }
    if (existing.updatedBy != incoming.updatedBy) {
        // Canonically equivalent spellings of one device id count as the same device.
        const int order = plainCompare(incoming.updatedBy, existing.updatedBy);
        if (order != 0) {
            return order > 0 ? incoming : existing;
        }
    }
    if (isDeleted(existing) != isDeleted(incoming)) {
        return isDeleted(existing) ? incoming : existing;
    }
    if (sameContent(existing, incoming)) {
        return existing;
    }
    return plainCompare(contentFingerprint(incoming), contentFingerprint(existing)) > 0 ? incoming
                                                                                        : existing;
}

std::vector<Account> mergeAccounts(std::span<const std::vector<Account>* const> lists, Date now) {
    std::size_t total = 0;
    for (const std::vector<Account>* list : lists) {
        total += list ? list->size() : 0;
    }
    // Winners in order of first appearance; the table maps an id to its slot.
    std::vector<const Account*> chosen;
    chosen.reserve(total);
    std::unordered_map<Uuid, std::size_t, UuidHash> slots;
    slots.reserve(total);
    for (const std::vector<Account>* list : lists) {
        if (!list) {
            continue;
        }
        for (const Account& account : *list) {
            const auto [slot, inserted] = slots.try_emplace(account.id, chosen.size());
            if (inserted) {
                chosen.push_back(&account);
            } else {
                chosen[slot->second] = &resolveConflict(*chosen[slot->second], account);
            }
        }
    }
    std::erase_if(chosen, [now](const Account* account) { return isPurged(*account, now); });
    std::sort(chosen.begin(), chosen.end(), orderedBefore);

    std::vector<Account> merged;
    merged.reserve(chosen.size());
    for (const Account* account : chosen) {
        merged.push_back(*account);
    }
    return merged;
}

std::vector<Account> mergeAccounts(const std::vector<std::vector<Account>>& lists, Date now) {
    std::vector<const std::vector<Account>*> pointers;
    pointers.reserve(lists.size());
    for (const std::vector<Account>& list : lists) {
        pointers.push_back(&list);
    }
    return mergeAccounts(pointers, now);
}

} // namespace tallowin
