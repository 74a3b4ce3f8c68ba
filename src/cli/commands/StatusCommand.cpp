// SPDX-License-Identifier: GPL-3.0-or-later
// status: where the vault is, whether it is unlocked, and how syncing goes.
#include "cli/CommandContext.h"
#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/ResultTexts.h"
#include "core/FileIO.h"
#include "core/SharedDefaults.h"
#include "platform/SyncFolderCloudDrive.h"

#include <ostream>

namespace tallowin {

namespace {

std::string stateText(const Phase& phase) {
    switch (phase.kind) {
    case Phase::unlocked:
        return "unlocked (unlock session)";
    case Phase::locked:
        return "locked";
    case Phase::setup:
        return phase.existingInICloud
                   ? "no vault on this device; the sync folder holds one (unlock to use it)"
                   : "no vault yet (create one with \"tallowin-cli init\")";
    case Phase::waitingForICloud:
        return "no vault on this device; waiting for the sync folder";
    case Phase::loading:
        break;
    }
    return "loading";
}

QCoro::Task<int> runStatus(CommandContext& context) {
    co_await context.open();
    VaultStore& store = context.store();
    std::ostream& out = context.out();
    const std::filesystem::path local = store.storage().localVaultURL();

    out << "Vault:        " << local.native() << "\n";
    out << "State:        " << stateText(store.phase()) << "\n";

    const std::optional<std::string> folder = context.defaults().string(kSyncFolderSettingKey);
    out << "Sync folder:  ";
    if (!folder || folder->empty()) {
        out << "off\n";
    } else {
        out << *folder << (store.usesCloud() ? "" : " (not available)") << "\n";
    }

    if (store.phase().kind == Phase::unlocked) {
        out << "Sync:         "
            << syncStatusLine(store.syncStatus(), store.lastSynced(), store.isWaitingForCloud(),
                              context.now())
            << "\n";
        out << "Accounts:     " << store.accounts().size() << "\n";
    }

    Bytes bytes;
    if (!readFile(local, bytes, kMaxVaultFileBytes)) {
        try {
            const VaultEnvelope envelope = decodeEnvelope(bytes);
            out << "Last saved:   " << localDateTime(envelope.savedAt) << " by " << envelope.savedBy
                << "\n";
        } catch (const std::exception& error) {
            out << "Last saved:   unreadable (" << error.what() << ")\n";
        }
    }
    co_return 0;
}

} // namespace

std::vector<Command> statusCommands() {
    return {{
        .name = "status",
        .synopsis = "",
        .summary = "Show whether a vault exists, whether it is unlocked, and the sync state",
        .description =
            "Never asks for a password: the vault shows as unlocked when a valid unlock\n"
            "session (written by \"unlock\") exists.",
        .options = {},
        .minimumArguments = 0,
        .maximumArguments = 0,
        .run = runStatus,
    }};
}

} // namespace tallowin
