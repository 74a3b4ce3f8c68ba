// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Bytes.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tallowin {

/// Standard base64 (RFC 4648 alphabet) with trailing '=' padding and no line breaks.
[[nodiscard]] std::string base64Encode(std::span<const std::uint8_t> bytes);

/// Strict reading of standard base64: the length must be a multiple of four, padding
/// only at the end, no white space, and unused bits of the last character zero.
[[nodiscard]] std::optional<Bytes> base64Decode(std::string_view text);

} // namespace tallowin
