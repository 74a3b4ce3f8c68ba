// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Parsing JSON that comes from outside the application (browser messages, files the
// companions share) without letting it exhaust the stack: a parsed value is copied,
// compared and serialised recursively, so its nesting is bounded here.

#include "core/VaultJSON.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace tallowin {

/// The value of `text`, or nothing when it is not valid JSON (UTF-8 included) or nests
/// arrays and objects deeper than `maxDepth` (the top level counts as depth 1).
[[nodiscard]] std::optional<Json> parseBoundedJSON(std::string_view text, std::size_t maxDepth);

} // namespace tallowin
