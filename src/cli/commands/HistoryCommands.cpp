// SPDX-License-Identifier: GPL-3.0-or-later
// history and restore-version: the vault's saved versions.
#include "cli/CommandContext.h"
#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/ResultTexts.h"

#include <algorithm>
#include <charconv>
#include <ostream>

namespace tallowin {

namespace {

// A version by its number in the "history" list (1 is the newest) or by its file name.
Snapshot findSnapshot(const std::vector<Snapshot>& snapshots, const std::string& text) {
    std::size_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error == std::errc() && end == text.data() + text.size()) {
        if (number >= 1 && number <= snapshots.size()) {
            return snapshots[number - 1];
        }
        throw CommandError("There is no version " + text + ".");
    }
    const std::string name = std::filesystem::path(text).filename().native();
    for (const Snapshot& snapshot : snapshots) {
        if (snapshot.url.filename().native() == name) {
            return snapshot;
        }
    }
    throw CommandError("There is no version " + text + ".");
}

QCoro::Task<std::vector<Snapshot>> snapshots(CommandContext& context) {
    co_await context.open();
    co_return co_await context.store().listSnapshots();
}

QCoro::Task<int> runHistory(CommandContext& context) {
    const std::vector<Snapshot> versions = co_await snapshots(context);
    std::ostream& out = context.out();
    if (context.arguments().positional.empty()) {
        if (versions.empty()) {
            out << "No versions yet. Tallowin saves one every time your accounts change.\n";
        }
        const std::size_t width = std::to_string(versions.size()).size();
        for (std::size_t i = 0; i < versions.size(); ++i) {
            std::string number = std::to_string(i + 1);
            number.insert(0, width - number.size(), ' ');
            out << number << "  " << localDateTime(versions[i].date) << "  "
                << (versions[i].device.empty() ? "-" : versions[i].device) << "\n";
        }
        co_return 0;
    }

    const Snapshot version = findSnapshot(versions, context.arguments().positional.front());
    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    const std::vector<Account> accounts = co_await store.snapshotAccounts(version);
    out << "Accounts in this version (" << localDateTime(version.date) << "):\n";
    for (const Account& account : accounts) {
        const bool live = std::any_of(store.accounts().begin(), store.accounts().end(),
                                      [&](const Account& a) { return a.id == account.id; });
        out << "  " << accountDescription(account);
        if (isDeleted(account)) {
            out << "  [deleted in this version]";
        } else if (!live) {
            out << "  [Missing now]";
        }
        out << "\n";
    }
    co_return 0;
}

QCoro::Task<int> runRestoreVersion(CommandContext& context) {
    const std::vector<Snapshot> versions = co_await snapshots(context);
    const Snapshot version = findSnapshot(versions, context.arguments().positional.front());
    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    const std::vector<Account> accounts = co_await store.snapshotAccounts(version);
    const int restored = store.restoreVersion(accounts);
    context.out() << restoreResultText(restored) << "\n";
    co_await context.saveChanges();
    co_return 0;
}

} // namespace

std::vector<Command> historyCommands() {
    return {
        {
            .name = "history",
            .synopsis = "[VERSION]",
            .summary = "List the saved versions of the vault, or the accounts of one",
            .description =
                "Tallowin saves a version every time the accounts change. VERSION is a number of\n"
                "the list (1 is the newest) or a version's file name; its accounts are shown\n"
                "with those that are not in the vault now marked \"Missing now\".",
            .options = {},
            .minimumArguments = 0,
            .maximumArguments = 1,
            .run = runHistory,
        },
        {
            .name = "restore-version",
            .synopsis = "VERSION",
            .summary = "Bring back every account as it was in a saved version",
            .description = "Accounts added since are kept. VERSION is as for \"history\".",
            .options = {},
            .minimumArguments = 1,
            .maximumArguments = 1,
            .run = runRestoreVersion,
        },
    };
}

} // namespace tallowin
