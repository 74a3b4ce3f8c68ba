// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace tallowin {

/// One member of a JSON object as raw text: the key token (with its quotes) and the
/// value token, both views into the text that was split.
struct RawJSONMember {
    std::string_view key;
    std::string_view value;
};

/// Splits the text of one JSON object into its members without reading any token: the
/// braces, colons, commas and white space between tokens are checked here, the tokens
/// themselves are only delimited and may still be invalid JSON. Lets a reader hand long
/// values it can check more cheaply (base64 text) past the general parser. Nothing when
/// the text is not shaped like one object or has more than `maxMembers` members.
[[nodiscard]] std::optional<std::vector<RawJSONMember>> splitObjectMembers(std::string_view text,
                                                                           std::size_t maxMembers);

} // namespace tallowin
