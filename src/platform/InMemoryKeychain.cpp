// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/InMemoryKeychain.h"

#include <algorithm>

namespace tallowin {

namespace {
std::map<std::string, std::string> attributesOf(const KeychainQuery& query) {
    std::map<std::string, std::string> attributes{{"service", query.service},
                                                  {"account", query.account}};
    if (!query.accessGroup.empty()) {
        attributes.emplace("group", query.accessGroup);
    }
    return attributes;
}

bool matches(const InMemoryKeychain::Item& item, const std::map<std::string, std::string>& wanted) {
    return std::all_of(wanted.begin(), wanted.end(), [&](const auto& attribute) {
        const auto it = item.attributes.find(attribute.first);
        return it != item.attributes.end() && it->second == attribute.second;
    });
}
} // namespace

std::vector<InMemoryKeychain::Item>::iterator InMemoryKeychain::find(const KeychainQuery& query) {
    const auto wanted = attributesOf(query);
    return std::find_if(items_.begin(), items_.end(),
                        [&](const Item& item) { return matches(item, wanted); });
}

void InMemoryKeychain::noteRead(const AuthenticationContext* context) {
    if (context && !context->interactionNotAllowed) {
        ++interactiveReads_;
    }
}

KeychainStatus InMemoryKeychain::add(const KeychainQuery& query,
                                     const KeychainItemAttributes& attributes,
                                     std::span<const std::uint8_t> data) {
    std::lock_guard lock(mutex_);
    if (!available_) {
        return KeychainStatus::serviceUnavailable;
    }
    if (locked_) {
        return KeychainStatus::interactionNotAllowed;
    }
    auto wanted = attributesOf(query);
    std::erase_if(items_, [&](const Item& item) { return item.attributes == wanted; });
    items_.push_back(Item{std::move(wanted), attributes, SecretBytes(data)});
    return KeychainStatus::success;
}

KeychainStatus InMemoryKeychain::copyData(const KeychainQuery& query,
                                          const AuthenticationContext* context, SecretBytes& data) {
    std::lock_guard lock(mutex_);
    if (!available_) {
        return KeychainStatus::serviceUnavailable;
    }
    noteRead(context);
    const auto it = find(query);
    if (it == items_.end()) {
        return KeychainStatus::itemNotFound;
    }
    if (locked_) {
        return KeychainStatus::interactionNotAllowed;
    }
    data = it->data;
    return KeychainStatus::success;
}

KeychainStatus InMemoryKeychain::copyAttributes(const KeychainQuery& query,
                                                const AuthenticationContext* context,
                                                std::string& label) {
    std::lock_guard lock(mutex_);
    if (!available_) {
        return KeychainStatus::serviceUnavailable;
    }
    noteRead(context);
    const auto it = find(query);
    if (it == items_.end()) {
        return KeychainStatus::itemNotFound;
    }
    label = it->created.label;
    return locked_ ? KeychainStatus::interactionNotAllowed : KeychainStatus::success;
}

KeychainStatus InMemoryKeychain::remove(const KeychainQuery& query) {
    std::lock_guard lock(mutex_);
    if (!available_) {
        return KeychainStatus::serviceUnavailable;
    }
    if (find(query) == items_.end()) {
        return KeychainStatus::itemNotFound;
    }
    if (locked_) {
        return KeychainStatus::interactionNotAllowed;
    }
    const auto wanted = attributesOf(query);
    std::erase_if(items_, [&](const Item& item) { return matches(item, wanted); });
    return KeychainStatus::success;
}

void InMemoryKeychain::setAvailable(bool available) {
    std::lock_guard lock(mutex_);
    available_ = available;
}

void InMemoryKeychain::setLocked(bool locked) {
    std::lock_guard lock(mutex_);
    locked_ = locked;
}

std::vector<InMemoryKeychain::Item> InMemoryKeychain::items() const {
    std::lock_guard lock(mutex_);
    return items_;
}

void InMemoryKeychain::putRaw(const KeychainQuery& query, std::string_view data,
                              std::string label) {
    std::lock_guard lock(mutex_);
    auto wanted = attributesOf(query);
    std::erase_if(items_, [&](const Item& item) { return item.attributes == wanted; });
    items_.push_back(Item{std::move(wanted), {std::move(label), {}}, SecretBytes(toBytes(data))});
}

int InMemoryKeychain::interactiveReads() const {
    std::lock_guard lock(mutex_);
    return interactiveReads_;
}

} // namespace tallowin
