// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandContext.h"

#include "core/SharedDefaults.h"
#include "core/VaultError.h"

#include <ostream>

namespace tallowin {

CommandContext::CommandContext(ParsedArguments arguments, PasswordPrompt prompt, std::ostream& out,
                               std::ostream& err)
    : arguments_(std::move(arguments)), prompt_(prompt), out_(out), err_(err) {}

CommandContext::~CommandContext() {
    if (typedPassword_) {
        wipeText(*typedPassword_);
    }
}

VaultStoreEnvironment& CommandContext::environment() {
    if (!environment_) {
        environment_.emplace(makeDefaultVaultStoreEnvironment());
    }
    return environment_->environment;
}

VaultStore& CommandContext::store() {
    if (!store_) {
        // open() waits for the sync folder before it starts the store, so the store's own
        // start-up wait would only add another one: it goes on with what open() found.
        VaultStoreEnvironment storeEnvironment = environment();
        storeEnvironment.startupContainerWait = std::chrono::milliseconds::zero();
        store_ = std::make_unique<VaultStore>(std::move(storeEnvironment));
    }
    return *store_;
}

SharedDefaults& CommandContext::defaults() {
    return *environment().defaults;
}

Date CommandContext::now() const {
    const Clock* clock = environment_ ? environment_->environment.clock : nullptr;
    return clock ? clock->now() : systemClock().now();
}

QCoro::Task<> CommandContext::open() {
    if (opened_) {
        co_return;
    }
    opened_ = true;
    VaultStore& vault = store();
    // The application shows its window while the sync folder is looked for; a command has
    // nothing to show, so it waits first and then starts with the folder known.
    const std::chrono::milliseconds wait = environment().startupContainerWait;
    co_await vault.storage().waitForContainer(wait);
    co_await vault.start();
}

QCoro::Task<> CommandContext::requireUnlocked() {
    co_await open();
    if (store().phase().kind != Phase::unlocked) {
        co_await unlockWithPassword();
    }
}

QCoro::Task<> CommandContext::unlockWithPassword() {
    co_await open();
    VaultStore& vault = store();
    switch (vault.phase().kind) {
    case Phase::unlocked:
    case Phase::locked:
        break;
    case Phase::setup:
        if (!vault.phase().existingInICloud) {
            throw CommandError("There is no vault on this device yet. Create one with "
                               "\"tallowin-cli init\".");
        }
        prompt_.note("Your vault is already in the sync folder. Enter its master password to "
                     "use it on this device.");
        break;
    case Phase::loading:
    case Phase::waitingForICloud:
        throw CommandError("The sync folder isn't answering, and there is no vault on this "
                           "device yet.");
    }
    std::string password = prompt_.ask("Master password: ");
    std::string attempt = password;
    vault.setErrorMessage(std::nullopt);
    const bool unlocked = co_await vault.unlock(std::move(attempt));
    if (!unlocked) {
        wipeText(password);
        throw CommandError(vault.errorMessage().value_or(
            std::string(VaultError::message(VaultError::wrongPassword))));
    }
    if (typedPassword_) {
        wipeText(*typedPassword_);
    }
    typedPassword_ = std::move(password);
}

QCoro::Task<> CommandContext::saveChanges() {
    co_await store().sync(false);
    const SyncStatus& status = store().syncStatus();
    if (status.kind == SyncStatus::failed) {
        throw CommandError("Sync paused: " + status.message);
    }
}

QCoro::Task<> CommandContext::close() {
    if (!store_) {
        co_return;
    }
    VaultStore& vault = *store_;
    vault.storage().onRemoteChange = nullptr;
    vault.storage().onConnected = nullptr;
    while (vault.isSyncing()) {
        co_await vault.sync(false);
    }
    if (typedPassword_ && !keepSession_) {
        vault.lock(true);
    }
}

} // namespace tallowin
