// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tallowin {

/// Where passwords come from: the terminal, read without echo, or, for scripts, one line of
/// standard input per password asked (`--password-stdin`). Prompts and notes go to the
/// terminal; with standard input they are not shown.
class PasswordPrompt {
public:
    explicit PasswordPrompt(bool fromStandardInput, std::FILE* input = stdin)
        : fromStandardInput_(fromStandardInput), input_(input) {}

    [[nodiscard]] bool readsStandardInput() const { return fromStandardInput_; }

    /// One password. Throws CommandError when there is no terminal, or standard input ended.
    [[nodiscard]] std::string ask(std::string_view prompt);

    /// A new password: asked twice on the terminal (the two must match), once from standard
    /// input. Shorter than 10 characters is refused; on the terminal the strength (0 to 4) is
    /// shown after the first entry.
    [[nodiscard]] std::string askNew(std::string_view prompt, std::string_view confirmation);

    /// A line shown to the person at the terminal (nothing with standard input).
    void note(std::string_view text);

private:
    bool fromStandardInput_;
    std::FILE* input_;
};

/// Reads one line (without its line break, and without a carriage return before it) from
/// `input`; false at the end of the input with nothing read. Lines longer than 64 KiB are
/// refused with CommandError.
[[nodiscard]] bool readSecretLine(std::FILE* input, std::string& line);

/// Overwrites the text's whole buffer and empties it.
void wipeText(std::string& text);

} // namespace tallowin
