// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/JSONMembers.h"

namespace tallowin {

namespace {
constexpr std::size_t npos = std::string_view::npos;

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::size_t skipWhiteSpace(std::string_view text, std::size_t at) {
    while (at < text.size() && isWhiteSpace(text[at])) {
        ++at;
    }
    return at;
}

/// End (one past the closing quote) of the string token starting at `at`, or npos.
std::size_t stringEnd(std::string_view text, std::size_t at) {
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i + 1;
        }
    }
    return npos;
}

/// End of the value token starting at `at`, or npos. Arrays and objects end at the
/// bracket that balances the first one (bracket kinds are left to the parser).
std::size_t valueEnd(std::string_view text, std::size_t at) {
    if (at >= text.size()) {
        return npos;
    }
    const char first = text[at];
    if (first == '"') {
        return stringEnd(text, at);
    }
    if (first == '{' || first == '[') {
        std::size_t depth = 0;
        for (std::size_t i = at; i < text.size();) {
            const char c = text[i];
            if (c == '"') {
                i = stringEnd(text, i);
                if (i == npos) {
                    return npos;
                }
                continue;
            }
            if (c == '{' || c == '[') {
                ++depth;
            } else if ((c == '}' || c == ']') && --depth == 0) {
                return i + 1;
            }
            ++i;
        }
        return npos;
    }
    std::size_t i = at;
    while (i < text.size() && !isWhiteSpace(text[i]) && text[i] != ',' && text[i] != '}' &&
           text[i] != ']') {
        ++i;
    }
    return i == at ? npos : i;
}
} // namespace

std::optional<std::vector<RawJSONMember>> splitObjectMembers(std::string_view text,
                                                             std::size_t maxMembers) {
    std::vector<RawJSONMember> members;
    std::size_t at = skipWhiteSpace(text, 0);
    if (at >= text.size() || text[at] != '{') {
        return std::nullopt;
    }
    at = skipWhiteSpace(text, at + 1);
    if (at < text.size() && text[at] == '}') {
        at = skipWhiteSpace(text, at + 1);
        return at == text.size() ? std::optional(members) : std::nullopt;
    }
    while (true) {
        if (at >= text.size() || text[at] != '"' || members.size() == maxMembers) {
            return std::nullopt;
        }
        const std::size_t keyEnd = stringEnd(text, at);
        if (keyEnd == npos) {
            return std::nullopt;
        }
        const std::string_view key = text.substr(at, keyEnd - at);
        at = skipWhiteSpace(text, keyEnd);
        if (at >= text.size() || text[at] != ':') {
            return std::nullopt;
        }
        at = skipWhiteSpace(text, at + 1);
        const std::size_t end = valueEnd(text, at);
        if (end == npos) {
            return std::nullopt;
        }
        members.push_back({key, text.substr(at, end - at)});
        at = skipWhiteSpace(text, end);
        if (at >= text.size()) {
            return std::nullopt;
        }
        if (text[at] == '}') {
            at = skipWhiteSpace(text, at + 1);
            return at == text.size() ? std::optional(std::move(members)) : std::nullopt;
        }
        if (text[at] != ',') {
            return std::nullopt;
        }
        at = skipWhiteSpace(text, at + 1);
    }
}

} // namespace tallowin
