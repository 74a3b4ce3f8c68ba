// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A small argument parser: `--name value`, `--name=value`, flags, and positional arguments,
// with `--` ending the options.

#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

/// The command line was not understood (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A command that ran but failed (exit status 1); the message goes to standard error.
class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionDefinition {
    std::string_view name; ///< without the leading dashes
    bool takesValue = false;
    std::string_view valueName; ///< for help texts, e.g. "DIR"
    std::string_view help;
};

struct ParsedArguments {
    std::map<std::string, std::string, std::less<>> values; ///< options with a value
    std::vector<std::string> flags;                         ///< options without one
    std::vector<std::string> positional;

    [[nodiscard]] bool has(std::string_view name) const;
    [[nodiscard]] std::optional<std::string> value(std::string_view name) const;
};

/// Reads `arguments` against the options a command knows; throws UsageError for an unknown
/// option, a missing value, a value given to a flag, or an option given twice. `--help` is
/// always known.
[[nodiscard]] ParsedArguments parseArguments(const std::vector<std::string>& arguments,
                                             const std::vector<OptionDefinition>& options);

} // namespace tallowin
