// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/BoundedJSON.h"

namespace tallowin {

std::optional<Json> parseBoundedJSON(std::string_view text, std::size_t maxDepth) {
    bool tooDeep = false;
    // The parser keeps its own stack; dropping every value below the limit keeps the
    // result shallow while the rest of the text is still checked.
    const Json::parser_callback_t limit = [&](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start ||
             event == Json::parse_event_t::array_start) &&
            static_cast<std::size_t>(depth) >= maxDepth) {
            tooDeep = true;
            return false;
        }
        return !tooDeep;
    };
    Json value = Json::parse(text.begin(), text.end(), limit, false);
    if (tooDeep || value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

} // namespace tallowin
