// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Safari web-extension handler. Linux has no Safari, so the extension context and
// item types are small stand-ins with the same shape: a context carries input items and
// is completed once with the reply items; an extension item carries a `userInfo`
// dictionary whose entry under SFExtensionMessageKey is the message.

#include "browser/ExtensionHandler.h"
#include "core/VaultJSON.h"

#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace tallowin {

inline constexpr std::string_view SFExtensionMessageKey = "message";

/// An extension item: `userInfo` is a dictionary (a JSON object) or absent.
struct NSExtensionItem {
    std::optional<Json> userInfo;
    friend bool operator==(const NSExtensionItem&, const NSExtensionItem&) = default;
};

/// Any other kind of input item (attachments and the like); the handler ignores it.
struct OtherInputItem {
    friend bool operator==(const OtherInputItem&, const OtherInputItem&) = default;
};

using NSExtensionInputItem = std::variant<NSExtensionItem, OtherInputItem>;

/// The context of one request.
class NSExtensionContext {
public:
    explicit NSExtensionContext(std::vector<NSExtensionInputItem> inputItems)
        : inputItems_(std::move(inputItems)) {}
    virtual ~NSExtensionContext() = default;

    [[nodiscard]] const std::vector<NSExtensionInputItem>& inputItems() const {
        return inputItems_;
    }
    virtual void completeRequest(std::vector<NSExtensionItem> returningItems) {
        ++completions_;
        returnedItems_ = std::move(returningItems);
    }

    [[nodiscard]] int completions() const { return completions_; }
    [[nodiscard]] const std::vector<NSExtensionItem>& returnedItems() const {
        return returnedItems_;
    }

private:
    std::vector<NSExtensionInputItem> inputItems_;
    std::vector<NSExtensionItem> returnedItems_;
    int completions_ = 0;
};

class SafariWebExtensionHandler {
public:
    explicit SafariWebExtensionHandler(ExtensionEnvironment environment)
        : environment_(std::move(environment)) {}

    /// Unpacks the message of the first input item (an empty request when there is
    /// none), answers it and completes the context with exactly one item.
    void beginRequest(NSExtensionContext& context) const;

private:
    ExtensionEnvironment environment_;
};

} // namespace tallowin
