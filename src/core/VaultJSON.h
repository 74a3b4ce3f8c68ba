// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one JSON encoder and decoder for envelopes, vault contents and account records:
// keys sorted in byte order, no white space, bytes as standard base64, dates as
// numbers of seconds since 2001-01-01T00:00:00Z.

#include "core/Bytes.h"
#include "core/Date.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tallowin {

using Json = nlohmann::json;

/// A document that does not decode: not JSON, a missing required key, a value of the
/// wrong type, bad base64. The message names the key; it never quotes values.
class JSONDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Compact JSON with sorted keys. Invalid UTF-8 in strings is replaced, never thrown.
[[nodiscard]] std::string encodeVaultJSON(const Json& value);

/// Parses JSON text; fails with JSONDecodeError.
[[nodiscard]] Json parseVaultJSON(std::string_view text);

/// A date as written: integral values as JSON integers, others with the shortest
/// decimal form that reads back to the same double.
[[nodiscard]] Json dateToJSON(Date date);
[[nodiscard]] Json bytesToJSON(std::span<const std::uint8_t> bytes);

// Typed member readers. `object` must be a JSON object (checked). A member that is
// absent or null counts as absent: required readers fail, optional ones give nothing.
// A present member of the wrong type always fails.
void requireObject(const Json& value, std::string_view what);
[[nodiscard]] std::string requireString(const Json& object, const char* key);
[[nodiscard]] std::optional<std::string> optionalString(const Json& object, const char* key);
[[nodiscard]] std::int64_t requireInt(const Json& object, const char* key);
[[nodiscard]] std::optional<std::int64_t> optionalInt(const Json& object, const char* key);
[[nodiscard]] Date requireDate(const Json& object, const char* key);
[[nodiscard]] std::optional<Date> optionalDate(const Json& object, const char* key);
[[nodiscard]] Bytes requireBytes(const Json& object, const char* key);
[[nodiscard]] const Json& requireMember(const Json& object, const char* key);
[[nodiscard]] const Json* optionalMember(const Json& object, const char* key);

} // namespace tallowin
