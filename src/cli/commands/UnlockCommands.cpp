// SPDX-License-Identifier: GPL-3.0-or-later
// init, unlock, lock and passwd: the vault's master password and the unlock session.
#include "cli/CommandContext.h"
#include "cli/Commands.h"
#include "core/UnlockSession.h"

#include <ostream>

namespace tallowin {

namespace {

constexpr std::string_view kExistsInCloud =
    "A Tallowin vault already exists in your iCloud Drive. Enter its master password to use it.";

QCoro::Task<int> runInit(CommandContext& context) {
    co_await context.open();
    VaultStore& store = context.store();
    switch (store.phase().kind) {
    case Phase::setup:
        if (store.phase().existingInICloud) {
            throw CommandError(std::string(kExistsInCloud));
        }
        break;
    case Phase::waitingForICloud:
        // As "Use this device only for now": the vault starts here and moves into the
        // sync folder when that answers.
        store.continueOnThisDevice();
        break;
    case Phase::locked:
    case Phase::unlocked:
    case Phase::loading:
        throw CommandError("A Tallowin vault already exists on this device.");
    }

    context.prompt().note("This password can't be recovered or reset. Store it somewhere safe, "
                          "such as a password manager.");
    std::string password =
        context.prompt().askNew("Master password: ", "Confirm master password: ");
    store.setErrorMessage(std::nullopt);
    co_await store.createVault(std::move(password));
    if (store.phase().kind != Phase::unlocked) {
        throw CommandError(store.errorMessage().value_or("The vault couldn't be created."));
    }
    // Only a vault that was written keeps its session: after a failed first write the
    // session would unlock nothing.
    co_await context.saveChanges();
    context.keepSession();
    context.out() << "Created the vault in " << store.storage().vaultFolder().native() << ".\n";
    co_return 0;
}

QCoro::Task<int> runUnlock(CommandContext& context) {
    co_await context.unlockWithPassword();
    context.keepSession();
    VaultStoreEnvironment& environment = context.environment();
    const Clock& clock = environment.clock ? *environment.clock : systemClock();
    UnlockSession session(*environment.keychain, *environment.defaults, clock);
    if (!session.load()) {
        context.err() << "No keyring kept the unlock session, so every command will ask for the "
                         "master password.\n";
    }
    context.out() << "Unlocked for 12 hours.\n";
    co_return 0;
}

QCoro::Task<int> runLock(CommandContext& context) {
    context.store().lock(true);
    // The store ignores a failed delete; here it matters, since the browser host and
    // later commands would go on handing out codes from a session still in the keyring.
    VaultStoreEnvironment& environment = context.environment();
    const Clock& clock = environment.clock ? *environment.clock : systemClock();
    const UnlockSession session(*environment.keychain, *environment.defaults, clock);
    std::string label;
    const KeychainStatus left =
        environment.keychain->copyAttributes(session.query(), nullptr, label);
    if (left == KeychainStatus::success || left == KeychainStatus::interactionNotAllowed) {
        throw CommandError("The keyring kept the unlock session; it could not be removed.");
    }
    context.out() << "Locked.\n";
    co_return 0;
}

QCoro::Task<int> runChangePassword(CommandContext& context) {
    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    std::string current = context.typedPassword()
                              ? *context.typedPassword()
                              : context.prompt().ask("Current master password: ");
    std::string replacement =
        context.prompt().askNew("New master password: ", "Confirm new password: ");
    store.setErrorMessage(std::nullopt);
    const bool changed = co_await store.changePassword(std::move(current), std::move(replacement));
    if (!changed) {
        throw CommandError(store.errorMessage().value_or("The password wasn't changed."));
    }
    context.out() << "Password changed\n"
                  << "Your other devices keep working and will ask for the new password the next "
                     "time a password is required.\n";
    co_await context.saveChanges();
    co_return 0;
}

} // namespace

std::vector<Command> unlockCommands() {
    return {
        {
            .name = "init",
            .synopsis = "",
            .summary = "Create a vault protected by a new master password",
            .description =
                "Asks for the new master password twice (at least 10 characters) and shows its\n"
                "strength from 0 to 4. The password can't be recovered or reset. With a sync\n"
                "folder set that already holds a vault, use \"unlock\" instead.",
            .options = {},
            .minimumArguments = 0,
            .maximumArguments = 0,
            .run = runInit,
        },
        {
            .name = "unlock",
            .synopsis = "",
            .summary = "Unlock with the master password for 12 hours",
            .description =
                "Writes a twelve-hour unlock session to the keyring, as the application does, so\n"
                "that later commands and the browser extension need no password. Also joins a\n"
                "vault that another computer put into the sync folder.",
            .options = {},
            .minimumArguments = 0,
            .maximumArguments = 0,
            .run = runUnlock,
        },
        {
            .name = "lock",
            .synopsis = "",
            .summary = "End the unlock session",
            .description = {},
            .options = {},
            .minimumArguments = 0,
            .maximumArguments = 0,
            .run = runLock,
        },
        {
            .name = "passwd",
            .synopsis = "",
            .summary = "Change the master password",
            .description =
                "Asks for the current master password, then for the new one twice. With\n"
                "--password-stdin: the current password on the first line, the new one on the\n"
                "second.",
            .options = {},
            .minimumArguments = 0,
            .maximumArguments = 0,
            .run = runChangePassword,
        },
    };
}

} // namespace tallowin
