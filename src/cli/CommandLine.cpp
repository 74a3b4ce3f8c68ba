// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include <algorithm>

namespace tallowin {

bool ParsedArguments::has(std::string_view name) const {
    return std::find(flags.begin(), flags.end(), name) != flags.end() ||
           values.find(name) != values.end();
}

std::optional<std::string> ParsedArguments::value(std::string_view name) const {
    const auto it = values.find(name);
    if (it == values.end()) {
        return std::nullopt;
    }
    return it->second;
}

ParsedArguments parseArguments(const std::vector<std::string>& arguments,
                               const std::vector<OptionDefinition>& options) {
    static constexpr OptionDefinition kHelp{"help", false, {}, {}};
    ParsedArguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || !argument.starts_with("--")) {
            if (!optionsEnded && argument.size() >= 2 && argument[0] == '-' && argument[1] != '-') {
                throw UsageError("unknown option " + argument);
            }
            parsed.positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const std::string_view body = std::string_view(argument).substr(2);
        const auto equals = body.find('=');
        const std::string_view name = body.substr(0, equals);
        const OptionDefinition* known = name == kHelp.name ? &kHelp : nullptr;
        for (const OptionDefinition& option : options) {
            if (option.name == name) {
                known = &option;
            }
        }
        if (!known) {
            throw UsageError("unknown option --" + std::string(name));
        }
        if (parsed.has(name)) {
            throw UsageError("--" + std::string(name) + " is given twice");
        }
        if (!known->takesValue) {
            if (equals != std::string_view::npos) {
                throw UsageError("--" + std::string(name) + " takes no value");
            }
            parsed.flags.emplace_back(name);
            continue;
        }
        if (equals != std::string_view::npos) {
            parsed.values.emplace(std::string(name), std::string(body.substr(equals + 1)));
        } else if (i + 1 < arguments.size()) {
            parsed.values.emplace(std::string(name), arguments[++i]);
        } else {
            throw UsageError("--" + std::string(name) + " needs a value");
        }
    }
    return parsed;
}

} // namespace tallowin
