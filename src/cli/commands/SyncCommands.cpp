// SPDX-License-Identifier: GPL-3.0-or-later
// sync and sync-folder: the folder that a file-sync tool keeps in step across computers.
#include "cli/CommandContext.h"
#include "cli/Commands.h"
#include "cli/ResultTexts.h"
#include "core/SharedDefaults.h"
#include "platform/SyncFolderCloudDrive.h"

#include <ostream>

namespace tallowin {

namespace {

QCoro::Task<int> reportSync(CommandContext& context) {
    co_await context.saveChanges();
    VaultStore& store = context.store();
    context.out() << syncStatusLine(store.syncStatus(), store.lastSynced(),
                                    store.isWaitingForCloud(), context.now())
                  << "\n";
    co_return 0;
}

QCoro::Task<int> runSync(CommandContext& context) {
    co_await context.requireUnlocked();
    co_return co_await reportSync(context);
}

QCoro::Task<int> runSyncFolder(CommandContext& context) {
    const ParsedArguments& arguments = context.arguments();
    SharedDefaults& defaults = context.defaults();
    const bool off = arguments.has("off");
    if (off && !arguments.positional.empty()) {
        throw UsageError("give a folder or --off, not both");
    }
    if (!off && arguments.positional.empty()) {
        const std::optional<std::string> folder = defaults.string(kSyncFolderSettingKey);
        context.out() << (folder && !folder->empty() ? *folder : std::string("off")) << "\n";
        co_return 0;
    }
    if (off) {
        if (const std::error_code error = defaults.remove(kSyncFolderSettingKey)) {
            throw CommandError(defaults.file().native() + ": " + error.message());
        }
        context.out() << "Sync folder off. The vault stays on this device only.\n";
        co_return 0;
    }

    std::error_code error;
    const std::filesystem::path folder = std::filesystem::weakly_canonical(
        std::filesystem::absolute(arguments.positional.front()), error);
    if (error || !std::filesystem::is_directory(folder, error)) {
        throw CommandError(arguments.positional.front() + ": not a folder");
    }
    if (const std::error_code written =
            defaults.setString(kSyncFolderSettingKey, folder.native())) {
        throw CommandError(defaults.file().native() + ": " + written.message());
    }
    context.out() << "Sync folder: " << folder.native() << "\n";

    // The vault moves into the folder (or joins the one there) with a sync, which needs the key.
    co_await context.open();
    const Phase phase = context.store().phase();
    if (phase.kind == Phase::setup && !phase.existingInICloud) {
        context.out() << "There is no vault yet; \"tallowin-cli init\" creates it there.\n";
        co_return 0;
    }
    co_await context.requireUnlocked();
    co_return co_await reportSync(context);
}

} // namespace

std::vector<Command> syncCommands() {
    return {
        {
            .name = "sync",
            .synopsis = "",
            .summary = "Merge with the sync folder and save now",
            .description = {},
            .options = {},
            .minimumArguments = 0,
            .maximumArguments = 0,
            .run = runSync,
        },
        {
            .name = "sync-folder",
            .synopsis = "[DIR | --off]",
            .summary = "Show or choose the folder that keeps the vault in step across computers",
            .description =
                "DIR is a folder that a file-sync tool (Syncthing, Nextcloud, Dropbox, a network\n"
                "mount) keeps the same on every computer; the vault lives in its\n"
                "\"iCloud.com.tallowin.app\" folder. Choosing one syncs at once, which asks for "
                "the\n"
                "master password without an unlock session. A vault that another computer put\n"
                "there is joined with its master password.",
            .options = {{"off", false, {}, "keep the vault on this computer only"}},
            .minimumArguments = 0,
            .maximumArguments = 1,
            .run = runSyncFolder,
        },
    };
}

} // namespace tallowin
