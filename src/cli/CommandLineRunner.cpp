// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandContext.h"
#include "cli/Commands.h"

#include <QCoroTask>
#include <exception>
#include <ostream>

namespace tallowin {

namespace {

constexpr std::string_view kProgram = "tallowin-cli";

const OptionDefinition kPasswordStdin{
    "password-stdin", false, {}, "read each password asked for as one line of standard input"};

void printCommandList(std::ostream& out) {
    out << "Usage: " << kProgram << " COMMAND [OPTIONS] [ARGUMENTS]\n\n"
        << "Reads codes and manages the Tallowin vault from a terminal or a script.\n\n"
        << "Commands:\n";
    for (const Command& command : allCommands()) {
        std::string name(command.name);
        name.resize(std::max<std::size_t>(name.size() + 1, 17), ' ');
        out << "  " << name << command.summary << "\n";
    }
    out << "\nEvery command takes --help, and --password-stdin to read passwords from standard\n"
        << "input instead of the terminal. Exit status: 0 success, 1 failure, 2 usage error.\n";
}

void printHelp(const Command& command, std::ostream& out) {
    out << "Usage: " << kProgram << " " << command.name;
    if (!command.synopsis.empty()) {
        out << " " << command.synopsis;
    }
    out << "\n\n" << command.summary << "\n";
    if (!command.description.empty()) {
        out << "\n" << command.description << "\n";
    }
    out << "\nOptions:\n";
    auto options = command.options;
    options.push_back(kPasswordStdin);
    options.push_back({"help", false, {}, "show this help"});
    for (const OptionDefinition& option : options) {
        std::string left = "--" + std::string(option.name);
        if (option.takesValue) {
            left += " " + std::string(option.valueName);
        }
        left.resize(std::max<std::size_t>(left.size() + 2, 24), ' ');
        out << "  " << left << option.help << "\n";
    }
}

const Command* findCommand(std::string_view name) {
    for (const Command& command : allCommands()) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

} // namespace

const std::vector<Command>& allCommands() {
    static const std::vector<Command> commands = [] {
        std::vector<Command> all;
        for (auto group : {statusCommands, unlockCommands, listCommands, addCommands, editCommands,
                           exportCommands, historyCommands, deletedCommands, syncCommands}) {
            for (Command& command : group()) {
                all.push_back(std::move(command));
            }
        }
        return all;
    }();
    return commands;
}

QCoro::Task<int> runCommandLine(std::vector<std::string> arguments, std::ostream& out,
                                std::ostream& err) {
    if (arguments.empty() || arguments.front() == "--help" || arguments.front() == "help") {
        if (arguments.size() >= 2 && findCommand(arguments[1])) {
            printHelp(*findCommand(arguments[1]), out);
        } else {
            printCommandList(arguments.empty() ? err : out);
        }
        co_return arguments.empty() ? 2 : 0;
    }
    const Command* command = findCommand(arguments.front());
    if (!command) {
        err << kProgram << ": unknown command \"" << arguments.front() << "\"\n"
            << "Try \"" << kProgram << " --help\".\n";
        co_return 2;
    }

    ParsedArguments parsed;
    try {
        auto options = command->options;
        options.push_back(kPasswordStdin);
        parsed = parseArguments({arguments.begin() + 1, arguments.end()}, options);
        if (parsed.has("help")) {
            printHelp(*command, out);
            co_return 0;
        }
        if (parsed.positional.size() < command->minimumArguments) {
            throw UsageError("missing arguments");
        }
        if (parsed.positional.size() > command->maximumArguments) {
            throw UsageError("too many arguments");
        }
    } catch (const UsageError& error) {
        err << kProgram << " " << command->name << ": " << error.what() << "\n"
            << "Usage: " << kProgram << " " << command->name << " " << command->synopsis << "\n";
        co_return 2;
    }

    const bool passwordFromStdin = parsed.has(kPasswordStdin.name);
    CommandContext context(std::move(parsed), PasswordPrompt(passwordFromStdin), out, err);
    int status = 1;
    std::string failure;
    bool usage = false;
    try {
        status = co_await command->run(context);
    } catch (const UsageError& error) {
        usage = true;
        failure = error.what();
    } catch (const std::exception& error) {
        failure = errorText(error);
    }
    try {
        co_await context.close();
    } catch (const std::exception& error) {
        if (failure.empty() && status == 0) {
            failure = errorText(error);
        }
    }
    out.flush();
    if (usage) {
        err << kProgram << " " << command->name << ": " << failure << "\n"
            << "Usage: " << kProgram << " " << command->name << " " << command->synopsis << "\n";
        co_return 2;
    }
    if (!failure.empty()) {
        err << failure << "\n";
        co_return 1;
    }
    co_return status;
}

} // namespace tallowin
