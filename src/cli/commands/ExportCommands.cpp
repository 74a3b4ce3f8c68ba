// SPDX-License-Identifier: GPL-3.0-or-later
// export-backup and export-links: the live accounts out of the vault.
#include "cli/CommandContext.h"
#include "cli/Commands.h"
#include "cli/ResultTexts.h"
#include "core/FileIO.h"
#include "core/VaultError.h"

#include <ostream>

namespace tallowin {

namespace {

constexpr std::string_view kStandardOutput = "-";

constexpr std::string_view kPlainTextWarning =
    "This file contains every setup key in plain text. Anyone who gets it can generate your "
    "codes. Store it encrypted, and delete it when you're done.";

// Writes the export atomically with mode 0600, or to standard output for "-". A folder gets
// the file under `defaultName` inside it. Gives the stream that should carry the result line.
std::ostream& writeExport(CommandContext& context, const std::string& target,
                          std::span<const std::uint8_t> bytes, const std::string& defaultName) {
    if (target == kStandardOutput) {
        context.out().write(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<std::streamsize>(bytes.size()));
        context.out().flush();
        return context.err();
    }
    std::filesystem::path path(target);
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        path /= defaultName;
    }
    if (const std::error_code error = writeFileAtomically(path, bytes, kPrivateFileMode)) {
        throw CommandError(path.native() + ": " + error.message());
    }
    return context.out();
}

QCoro::Task<int> runExportBackup(CommandContext& context) {
    const std::string target = context.arguments().positional.front();
    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    context.prompt().note("Use a password you'll remember years from now. It can be different "
                          "from your master password. Without it the backup can't be opened.");
    std::string password = context.prompt().askNew("Backup password: ", "Confirm password: ");
    const Bytes bytes = co_await store.exportBackup(std::move(password));
    const std::string name = VaultStore::defaultBackupName(context.now());
    std::ostream& result = writeExport(context, target, bytes, name);
    result << exportResultText(static_cast<int>(store.accounts().size())) << "\n";
    co_return 0;
}

QCoro::Task<int> runExportLinks(CommandContext& context) {
    const std::string target = context.arguments().positional.front();
    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    context.err() << kPlainTextWarning << "\n";
    // A master password typed to unlock in this run is the confirmation already.
    if (!context.typedPassword()) {
        context.prompt().note("Confirm it's you.");
        std::string password = context.prompt().ask("Master password: ");
        const bool confirmed = co_await store.checkPassword(std::move(password));
        if (!confirmed) {
            throw CommandError(std::string(VaultError::message(VaultError::wrongPassword)));
        }
    }
    std::string text = store.setupLinksText();
    std::ostream& result = writeExport(context, target, toBytes(text), "Tallowin Setup Links");
    wipeText(text);
    result << exportResultText(static_cast<int>(store.accounts().size())) << "\n";
    co_return 0;
}

} // namespace

std::vector<Command> exportCommands() {
    return {
        {
            .name = "export-backup",
            .synopsis = "FILE",
            .summary = "Write an encrypted backup of the accounts",
            .description =
                "The backup has a password of its own, asked twice (at least 10 characters); it\n"
                "opens in Tallowin on any device. Recently deleted accounts are left out. FILE "
                "may\n"
                "be a folder (the backup is then named \"Tallowin Backup\" and today's date) or -\n"
                "for standard output.",
            .options = {},
            .minimumArguments = 1,
            .maximumArguments = 1,
            .run = runExportBackup,
        },
        {
            .name = "export-links",
            .synopsis = "FILE",
            .summary = "Write the accounts as otpauth:// setup links, not encrypted",
            .description =
                "One link per line; they import into any authenticator app. Asks for the master\n"
                "password first. FILE may be a folder (the file is then named \"Tallowin Setup\n"
                "Links\") or - for standard output.",
            .options = {},
            .minimumArguments = 1,
            .maximumArguments = 1,
            .run = runExportLinks,
        },
    };
}

} // namespace tallowin
