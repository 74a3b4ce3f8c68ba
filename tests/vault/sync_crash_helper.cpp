// SPDX-License-Identifier: GPL-3.0-or-later
// One computer of the crash test: opens the vault in <home> with the sync folder <sync>, then
// adds an account and syncs, again and again, until it is killed. It reports its progress on
// standard output, one line per step: "ready", "syncing" (a pass began), "published" (a pass
// merged and is about to write), "synced <n>" (account <name>-<n> is written), or "failed
// <message>". With --setup it only opens (or creates) the vault, syncs and exits.
//
// usage: sync_crash_helper <home> <sync folder> <name> [--setup]

#include "EventLoop.h"
#include "core/SharedDefaults.h"
#include "platform/InMemoryKeychain.h"
#include "platform/ScriptedBiometrics.h"
#include "platform/SyncFolderCloudDrive.h"
#include "vault/VaultStore.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

using namespace tallowin;
namespace fs = std::filesystem;

constexpr const char* kPassword = "crash test password";
constexpr std::int64_t kIterations = 64;

void say(const std::string& line) {
    const std::string text = line + "\n";
    (void)!::write(STDOUT_FILENO, text.data(), text.size());
}

/// A setup key of its own for every account: the number in Base32 digits.
std::string secretFor(const std::string& name, int n) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string secret;
    unsigned long value = static_cast<unsigned long>(n) * 64 + (name.empty() ? 0 : name[0] & 63);
    for (int i = 0; i < 16; ++i) {
        secret += digits[value % 32];
        value /= 32;
    }
    return secret;
}

int countOf(const std::vector<Account>& accounts, const std::string& name) {
    int count = 0;
    for (const Account& account : accounts) {
        count += account.issuer == name ? 1 : 0;
    }
    return count;
}

bool settle(VaultStore& store) {
    return test::processEventsUntil(
        [&] { return !store.isSyncing() && !store.storage().isResolving(); },
        std::chrono::seconds(20));
}

} // namespace

int main(int argc, char** argv) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 4) {
        say("failed usage: sync_crash_helper <home> <sync folder> <name> [--setup]");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const fs::path home = argv[1];
    const fs::path sync = argv[2];
    const std::string name = argv[3];
    const bool setupOnly = argc > 4 && std::string(argv[4]) == "--setup";

    fs::create_directories(home / "shared");
    SharedDefaults defaults(home / "settings.json");
    InMemoryKeychain keychain;
    ScriptedBiometrics biometrics(false, BiometryType::none);
    VaultStoreEnvironment environment;
    environment.sharedDirectory = home / "shared";
    environment.cloudDrive = std::make_shared<SyncFolderCloudDrive>(
        [sync]() -> std::optional<fs::path> { return sync; });
    environment.defaults = &defaults;
    environment.keychain = &keychain;
    environment.biometrics = &biometrics;
    environment.computerName = name;
    environment.timeZone = QTimeZone(0);
    environment.kdfIterations = kIterations;

    VaultStore store(environment);
    test::run(store.start());
    if (store.phase() == Phase::makeSetup(false)) {
        test::run(store.createVault(kPassword));
    } else if (store.phase().kind != Phase::unlocked) {
        (void)test::run(store.unlock(kPassword));
    }
    if (store.phase().kind != Phase::unlocked || !settle(store)) {
        say("failed " + store.errorMessage().value_or("not unlocked"));
        return 2;
    }
    if (setupOnly) {
        say("done");
        return 0;
    }

    QObject::connect(&store, &VaultStore::syncStatusChanged, [&] {
        if (store.syncStatus().kind == SyncStatus::syncing) {
            say("syncing");
        }
    });
    QObject::connect(&store, &VaultStore::accountsChanged, [] { say("published"); });
    say("ready");
    for (;;) {
        const int n = countOf(store.all(), name);
        store.addDrafts({AccountDraft{name, name + "-" + std::to_string(n), secretFor(name, n),
                                      OTPAlgorithm::sha1, 6, 30}});
        if (!settle(store) || store.syncStatus().kind == SyncStatus::failed) {
            say("failed " + store.syncStatus().message);
            return 3;
        }
        say("synced " + std::to_string(n));
    }
}
