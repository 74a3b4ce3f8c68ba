// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Environment.h"

#include <unistd.h>

namespace tallowin {

Environment Environment::current() {
    Variables variables;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string_view::npos && equals > 0) {
            variables.emplace(std::string(text.substr(0, equals)),
                              std::string(text.substr(equals + 1)));
        }
    }
    return Environment(std::move(variables));
}

std::optional<std::string> Environment::get(std::string_view name) const {
    const auto it = variables_.find(name);
    if (it == variables_.end() || it->second.empty()) {
        return std::nullopt;
    }
    return it->second;
}

void Environment::unset(std::string_view name) {
    const auto it = variables_.find(name);
    if (it != variables_.end()) {
        variables_.erase(it);
    }
}

} // namespace tallowin
