// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tallowin {

/// A set of environment variables. Code that consults the environment takes one of these,
/// so tests can hand it a made-up environment instead of the process's own.
class Environment {
public:
    using Variables = std::map<std::string, std::string, std::less<>>;

    Environment() = default;
    explicit Environment(Variables variables) : variables_(std::move(variables)) {}

    /// A snapshot of this process's environment.
    [[nodiscard]] static Environment current();

    /// The value of `name`; an unset and an empty variable both give nothing.
    [[nodiscard]] std::optional<std::string> get(std::string_view name) const;
    void set(std::string name, std::string value) {
        variables_[std::move(name)] = std::move(value);
    }
    void unset(std::string_view name);

    [[nodiscard]] const Variables& variables() const { return variables_; }

private:
    Variables variables_;
};

} // namespace tallowin
