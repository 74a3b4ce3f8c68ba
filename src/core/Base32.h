// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Bytes.h"

#include <optional>
#include <string>
#include <string_view>

namespace tallowin {

/// Lenient RFC 4648 Base32 reading of setup keys: case-insensitive; spaces, hyphens,
/// '=', line feeds and tabs are dropped anywhere; left-over bits are ignored. Gives
/// nothing for any other character or when not a single byte results.
[[nodiscard]] std::optional<Bytes> base32Decode(std::string_view text);

/// The cleaned key (upper case, dropped characters removed) when it decodes.
[[nodiscard]] std::optional<std::string> normalizedSecret(std::string_view text);

} // namespace tallowin
