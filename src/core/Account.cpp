// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Account.h"

#include "core/Base32.h"

namespace tallowin {

namespace {
/// Trims spaces and tabs (not line breaks) from both ends.
std::string trimSpacesAndTabs(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}
} // namespace

Account makeAccount(const AccountDraft& draft, const std::string& deviceID, Date now,
                    RandomSource& random) {
    Account account;
    account.id = Uuid::random(random);
    account.issuer = trimSpacesAndTabs(draft.issuer);
    account.label = trimSpacesAndTabs(draft.label);
    account.secret = normalizedSecret(draft.secret).value_or(draft.secret);
    account.algorithm = draft.algorithm;
    account.digits = draft.digits;
    account.period = draft.period;
    account.createdAt = now;
    account.updatedAt = now;
    account.updatedBy = deviceID;
    return account;
}

std::string displayTitle(const Account& account) {
    if (!account.issuer.empty()) {
        return account.issuer;
    }
    if (!account.label.empty()) {
        return account.label;
    }
    return "Untitled";
}

Json accountToJSON(const Account& account) {
    Json object = Json::object();
    object["id"] = account.id.toString();
    object["issuer"] = account.issuer;
    object["label"] = account.label;
    object["secret"] = account.secret;
    object["algorithm"] = std::string(rawValue(account.algorithm));
    object["digits"] = account.digits;
    object["period"] = account.period;
    if (account.color) {
        object["color"] = *account.color;
    }
    object["websites"] = account.websites;
    object["createdAt"] = dateToJSON(account.createdAt);
    object["updatedAt"] = dateToJSON(account.updatedAt);
    object["updatedBy"] = account.updatedBy;
    if (account.deletedAt) {
        object["deletedAt"] = dateToJSON(*account.deletedAt);
    }
    return object;
}

Account accountFromJSON(const Json& object) {
    requireObject(object, "an account");
    Account account;
    const auto id = Uuid::parse(requireString(object, "id"));
    if (!id) {
        throw JSONDecodeError("expected a UUID for \"id\"");
    }
    account.id = *id;
    account.issuer = optionalString(object, "issuer").value_or("");
    account.label = optionalString(object, "label").value_or("");
    account.secret = requireString(object, "secret");
    if (const auto raw = optionalString(object, "algorithm")) {
        const auto algorithm = otpAlgorithmFromRaw(*raw);
        if (!algorithm) {
            throw JSONDecodeError("unknown value for \"algorithm\"");
        }
        account.algorithm = *algorithm;
    }
    account.digits = optionalInt(object, "digits").value_or(6);
    account.period = optionalInt(object, "period").value_or(30);
    account.color = optionalInt(object, "color");
    if (const Json* websites = optionalMember(object, "websites")) {
        if (!websites->is_array()) {
            throw JSONDecodeError("expected an array for \"websites\"");
        }
        account.websites.reserve(websites->size());
        for (const Json& site : *websites) {
            if (!site.is_string()) {
                throw JSONDecodeError("expected strings in \"websites\"");
            }
            account.websites.push_back(site.get<std::string>());
        }
    }
    account.createdAt = optionalDate(object, "createdAt").value_or(Date::fromUnix(0));
    account.updatedAt = optionalDate(object, "updatedAt").value_or(account.createdAt);
    account.updatedBy = optionalString(object, "updatedBy").value_or("");
    account.deletedAt = optionalDate(object, "deletedAt");
    return account;
}

} // namespace tallowin
