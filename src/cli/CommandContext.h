// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/CommandLine.h"
#include "cli/PasswordPrompt.h"
#include "platform/Biometrics.h"
#include "platform/KeychainItems.h"
#include "vault/DefaultEnvironment.h"
#include "vault/VaultStore.h"

#include <QCoroTask>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace tallowin {

/// What a command works with: its arguments, the password source, the output streams, and
/// the one vault store of the process, driven exactly as the application drives it.
class CommandContext {
public:
    CommandContext(ParsedArguments arguments, PasswordPrompt prompt, std::ostream& out,
                   std::ostream& err);
    ~CommandContext();
    CommandContext(const CommandContext&) = delete;
    CommandContext& operator=(const CommandContext&) = delete;

    [[nodiscard]] const ParsedArguments& arguments() const { return arguments_; }
    [[nodiscard]] PasswordPrompt& prompt() { return prompt_; }
    [[nodiscard]] std::ostream& out() { return out_; }
    [[nodiscard]] std::ostream& err() { return err_; }

    /// The production environment (made on first use).
    [[nodiscard]] VaultStoreEnvironment& environment();
    /// The store (made on first use, not yet started).
    [[nodiscard]] VaultStore& store();
    [[nodiscard]] SharedDefaults& defaults();
    [[nodiscard]] Date now() const;

    /// Finds the sync folder (waiting as long as the application does at start-up) and starts
    /// the store, which unlocks quietly when a valid unlock session exists.
    QCoro::Task<> open();

    /// open(), then, unless the unlock session already unlocked it, asks for the master
    /// password and unlocks. A vault that exists only in the sync folder is joined this way.
    /// Throws CommandError with the store's message when that fails.
    QCoro::Task<> requireUnlocked();

    /// open(), then asks for the master password and unlocks, also when the session already
    /// unlocked the vault (which writes a fresh session). Throws CommandError when there is
    /// no vault to unlock or the store refuses the password.
    QCoro::Task<> unlockWithPassword();

    /// The master password typed in this run to unlock, if it was.
    [[nodiscard]] const std::optional<std::string>& typedPassword() const { return typedPassword_; }
    /// Keeps the unlock session that a password unlock in this run wrote (`init`, `unlock`);
    /// otherwise it is removed when the command ends, so one-off commands leave none behind.
    void keepSession() { keepSession_ = true; }

    /// Waits until the sync pass that an edit started has written the vault (locally and to
    /// the sync folder). Throws CommandError("Sync paused: …") when the pass failed.
    QCoro::Task<> saveChanges();

    /// Stops reacting to the sync folder, lets a running pass finish, and drops a one-off
    /// unlock session. Called once when the command ends, whatever its outcome.
    QCoro::Task<> close();

private:
    ParsedArguments arguments_;
    PasswordPrompt prompt_;
    std::ostream& out_;
    std::ostream& err_;
    std::optional<DefaultVaultStoreEnvironment> environment_;
    std::unique_ptr<VaultStore> store_;
    bool opened_ = false;
    bool keepSession_ = false;
    std::optional<std::string> typedPassword_;
};

} // namespace tallowin
