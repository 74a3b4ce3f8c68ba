// SPDX-License-Identifier: GPL-3.0-or-later
// tallowin-cli: the vault from a terminal or a script.
#include "cli/Commands.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QTimer>
#include <iostream>

namespace {

QCoro::Task<> runAndQuit(std::vector<std::string> arguments) {
    const int status =
        co_await tallowin::runCommandLine(std::move(arguments), std::cout, std::cerr);
    std::cout.flush();
    QCoreApplication::exit(status);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    QCoreApplication application(argc, argv);
    // Started from the event loop, so that a command that ends at once still quits it.
    QTimer::singleShot(0, &application, [&arguments] { runAndQuit(std::move(arguments)); });
    return QCoreApplication::exec();
}
