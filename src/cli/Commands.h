// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/CommandLine.h"

#include <QCoroTask>
#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

class CommandContext;

/// One command of `tallowin-cli`: its name, help texts, options and how many positional
/// arguments it takes. `run` gives the exit status (0 success, 1 failure).
struct Command {
    std::string_view name;
    std::string_view synopsis; ///< what follows the name in the usage line
    std::string_view summary;  ///< one line for the command list
    std::string_view description;
    std::vector<OptionDefinition> options;
    std::size_t minimumArguments = 0;
    std::size_t maximumArguments = 0;
    QCoro::Task<int> (*run)(CommandContext& context) = nullptr;
};

// One per command file.
[[nodiscard]] std::vector<Command> statusCommands();
[[nodiscard]] std::vector<Command> unlockCommands();  // init, unlock, lock, passwd
[[nodiscard]] std::vector<Command> listCommands();    // list, code
[[nodiscard]] std::vector<Command> addCommands();     // add, import
[[nodiscard]] std::vector<Command> editCommands();    // edit
[[nodiscard]] std::vector<Command> exportCommands();  // export-backup, export-links
[[nodiscard]] std::vector<Command> historyCommands(); // history, restore-version
[[nodiscard]] std::vector<Command>
deletedCommands();                                 // deleted, restore-deleted, delete, delete-now
[[nodiscard]] std::vector<Command> syncCommands(); // sync, sync-folder

/// Every command, in the order the help lists them.
[[nodiscard]] const std::vector<Command>& allCommands();

/// Runs the command line (without the program name) and gives the exit status: 0 success,
/// 1 failure (the message on `err`), 2 usage error.
QCoro::Task<int> runCommandLine(std::vector<std::string> arguments, std::ostream& out,
                                std::ostream& err);

} // namespace tallowin
