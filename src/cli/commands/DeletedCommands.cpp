// SPDX-License-Identifier: GPL-3.0-or-later
// deleted, restore-deleted, delete and delete-now: the 30-day Recently Deleted list.
#include "cli/CommandContext.h"
#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/ResultTexts.h"

#include <ostream>

namespace tallowin {

namespace {

const std::string& idArgument(CommandContext& context) {
    return context.arguments().positional.front();
}

QCoro::Task<int> runDeleted(CommandContext& context) {
    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    std::ostream& out = context.out();
    out << "Deleted accounts stay here for 30 days.\n";
    for (const Account& account : store.recentlyDeleted()) {
        out << account.id.toString() << "  "
            << remainingDaysText(account, context.now()).value_or("") << "  "
            << accountDescription(account) << "\n";
    }
    co_return 0;
}

QCoro::Task<int> runDelete(CommandContext& context) {
    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    const Account account = accountWithID(store.accounts(), idArgument(context));
    store.moveToRecentlyDeleted(account.id);
    context.out() << "Moved " << accountDescription(account)
                  << " to Recently Deleted. You can restore it for 30 days.\n";
    co_await context.saveChanges();
    co_return 0;
}

QCoro::Task<int> runRestoreDeleted(CommandContext& context) {
    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    const Account account = accountWithID(store.recentlyDeleted(), idArgument(context));
    store.restoreDeleted(account.id);
    context.out() << "Restored " << accountDescription(account) << ".\n";
    co_await context.saveChanges();
    co_return 0;
}

QCoro::Task<int> runDeleteNow(CommandContext& context) {
    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    // Only from Recently Deleted: erasing the key of a live account would leave it codeless.
    const Account account = accountWithID(store.recentlyDeleted(), idArgument(context));
    store.deleteNow(account.id);
    context.out() << "Deleted " << accountDescription(account) << " now.\n"
                  << "The setup key is erased from all your devices. Older versions in Version "
                     "History still contain it.\n";
    co_await context.saveChanges();
    co_return 0;
}

Command idCommand(std::string_view name, std::string_view summary, std::string_view description,
                  QCoro::Task<int> (*run)(CommandContext&)) {
    return {
        .name = name,
        .synopsis = "ID",
        .summary = summary,
        .description = description,
        .options = {},
        .minimumArguments = 1,
        .maximumArguments = 1,
        .run = run,
    };
}

} // namespace

std::vector<Command> deletedCommands() {
    return {
        {
            .name = "deleted",
            .synopsis = "",
            .summary = "List the recently deleted accounts with the days left to restore them",
            .description = {},
            .options = {},
            .minimumArguments = 0,
            .maximumArguments = 0,
            .run = runDeleted,
        },
        idCommand("delete", "Move an account to Recently Deleted",
                  "ID is the account's ID as \"list --ids\" shows it, or its first characters\n"
                  "(at least 4).",
                  runDelete),
        idCommand("restore-deleted", "Bring back a recently deleted account",
                  "ID is as \"deleted\" shows it, or its first characters (at least 4).",
                  runRestoreDeleted),
        idCommand("delete-now", "Erase a recently deleted account's setup key on every device",
                  "Older versions in the history still contain the key. ID is as \"deleted\"\n"
                  "shows it, or its first characters (at least 4).",
                  runDeleteNow),
    };
}

} // namespace tallowin
