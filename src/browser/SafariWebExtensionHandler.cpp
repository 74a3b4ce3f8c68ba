// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/SafariWebExtensionHandler.h"

namespace tallowin {

namespace {
Json requestOf(const NSExtensionContext& context) {
    if (context.inputItems().empty()) {
        return Json::object();
    }
    const auto* item = std::get_if<NSExtensionItem>(&context.inputItems().front());
    if (!item || !item->userInfo || !item->userInfo->is_object()) {
        return Json::object();
    }
    const auto it = item->userInfo->find(SFExtensionMessageKey);
    if (it == item->userInfo->end() || !it->is_object()) {
        return Json::object();
    }
    return *it;
}
} // namespace

void SafariWebExtensionHandler::beginRequest(NSExtensionContext& context) const {
    Json reply = handleExtensionMessage(requestOf(context), environment_);
    NSExtensionItem response;
    response.userInfo = Json::object();
    (*response.userInfo)[std::string(SFExtensionMessageKey)] = std::move(reply);
    context.completeRequest({std::move(response)});
}

} // namespace tallowin
