// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/VaultJSON.h"

#include "core/Base64.h"

#include <cmath>
#include <limits>

namespace tallowin {

namespace {
[[noreturn]] void fail(std::string message) {
    throw JSONDecodeError(std::move(message));
}

std::string keyText(const char* key) {
    return std::string("\"") + key + "\"";
}

std::optional<std::int64_t> asInt(const Json& value) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto v = value.get<std::uint64_t>();
        if (v <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(v);
        }
        return std::nullopt;
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        // Integral values inside the range of a signed 64-bit integer.
        if (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 &&
            d < 9223372036854775808.0) {
            return static_cast<std::int64_t>(d);
        }
    }
    return std::nullopt;
}
} // namespace

std::string encodeVaultJSON(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json parseVaultJSON(std::string_view text) {
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded()) {
        fail("not valid JSON");
    }
    return value;
}

Json dateToJSON(Date date) {
    const double v = date.sinceReference;
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 9007199254740992.0) {
        return Json(static_cast<std::int64_t>(v));
    }
    return Json(v);
}

Json bytesToJSON(std::span<const std::uint8_t> bytes) {
    return Json(base64Encode(bytes));
}

void requireObject(const Json& value, std::string_view what) {
    if (!value.is_object()) {
        fail(std::string("expected an object for ") + std::string(what));
    }
}

const Json* optionalMember(const Json& object, const char* key) {
    requireObject(object, "a record");
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

const Json& requireMember(const Json& object, const char* key) {
    const Json* value = optionalMember(object, key);
    if (!value) {
        fail("missing key " + keyText(key));
    }
    return *value;
}

std::optional<std::string> optionalString(const Json& object, const char* key) {
    const Json* value = optionalMember(object, key);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        fail("expected a string for " + keyText(key));
    }
    return value->get<std::string>();
}

std::string requireString(const Json& object, const char* key) {
    auto value = optionalString(object, key);
    if (!value) {
        fail("missing key " + keyText(key));
    }
    return std::move(*value);
}

std::optional<std::int64_t> optionalInt(const Json& object, const char* key) {
    const Json* value = optionalMember(object, key);
    if (!value) {
        return std::nullopt;
    }
    const auto v = asInt(*value);
    if (!v) {
        fail("expected an integer for " + keyText(key));
    }
    return v;
}

std::int64_t requireInt(const Json& object, const char* key) {
    const auto value = optionalInt(object, key);
    if (!value) {
        fail("missing key " + keyText(key));
    }
    return *value;
}

std::optional<Date> optionalDate(const Json& object, const char* key) {
    const Json* value = optionalMember(object, key);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_number()) {
        fail("expected a date for " + keyText(key));
    }
    const double seconds = value->get<double>();
    if (!std::isfinite(seconds)) {
        fail("expected a date for " + keyText(key));
    }
    return Date{seconds};
}

Date requireDate(const Json& object, const char* key) {
    const auto value = optionalDate(object, key);
    if (!value) {
        fail("missing key " + keyText(key));
    }
    return *value;
}

Bytes requireBytes(const Json& object, const char* key) {
    const std::string text = requireString(object, key);
    auto bytes = base64Decode(text);
    if (!bytes) {
        fail("expected base64 data for " + keyText(key));
    }
    return std::move(*bytes);
}

} // namespace tallowin
