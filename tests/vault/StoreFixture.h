// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Devices for vault store tests: each has its own shared directory, settings, keychain,
// biometrics and clock; devices given the same sync folder share one cloud container.

#include "EventLoop.h"
#include "core/FileIO.h"
#include "core/SharedDefaults.h"
#include "core/VaultEnvelope.h"
#include "platform/InMemoryKeychain.h"
#include "platform/ScriptedBiometrics.h"
#include "platform/ScriptedCloudDrive.h"
#include "vault/VaultStore.h"

#include <QTimeZone>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tallowin {

/// Reaches into a store where a test must act at an exact point of a sync pass.
class VaultStoreProbe {
public:
    /// `hook` runs in every pass right before it reads the cloud copy.
    static void beforeCloudRead(VaultStore& store, std::function<void()> hook) {
        store.beforeCloudRead_ = std::move(hook);
    }
};

} // namespace tallowin

namespace tallowin::test {

/// Few rounds, so that password work takes microseconds.
inline constexpr std::int64_t kTestIterations = 64;
inline constexpr const char* kPassword = "correct horse battery staple";
/// 2026-03-05T14:15:03Z
inline constexpr Date kStart = Date::fromUnix(1772720103);

inline SyncStatus statusOf(SyncStatus::Kind kind) {
    return SyncStatus{kind, {}};
}

inline std::filesystem::path containerIn(const std::filesystem::path& syncFolder) {
    return syncFolder / "iCloud.com.tallowin.app";
}

inline std::filesystem::path cloudVaultIn(const std::filesystem::path& syncFolder) {
    return containerIn(syncFolder) / "Documents" / "vault.tlwvault";
}

inline std::filesystem::path historyIn(const std::filesystem::path& syncFolder) {
    return containerIn(syncFolder) / "Documents" / "History";
}

inline Bytes readBytes(const std::filesystem::path& path) {
    Bytes bytes;
    EXPECT_FALSE(readFile(path, bytes, kMaxVaultFileBytes)) << path;
    return bytes;
}

/// The key of a vault file, unwrapped with `password`.
inline VaultKey keyOf(const std::filesystem::path& vault, const char* password = kPassword) {
    return unwrapVaultKey(decodeEnvelope(readBytes(vault)), password);
}

/// The accounts in a vault file.
inline std::vector<Account> accountsIn(const std::filesystem::path& vault, const VaultKey& key) {
    return openContents(decodeEnvelope(readBytes(vault)), key);
}

inline std::size_t fileCount(const std::filesystem::path& folder) {
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    return count;
}

/// Identity and modification time of a file: any rewrite (a new file renamed into place)
/// changes it.
struct FileStamp {
    ino_t inode = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

inline FileStamp stampOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return {info.st_ino, info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec,
            info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec};
}

inline AccountDraft draft(std::string issuer, std::string label, std::string secret) {
    return AccountDraft{
        std::move(issuer), std::move(label), std::move(secret), OTPAlgorithm::sha1, 6, 30};
}

/// One computer running the application.
class Device {
public:
    /// `cloud`: the sync folder; none for a cloud drive that is off. `answersAtOnce` false
    /// gives a drive that holds its answer until `answerCloud`.
    Device(std::filesystem::path home, std::optional<std::filesystem::path> cloud, std::string name,
           bool answersAtOnce = true)
        : home_(std::move(home)), cloud_(std::move(cloud)), name_(std::move(name)),
          defaults_(home_ / "config" / "settings.json") {
        std::filesystem::create_directories(home_ / "shared");
        const std::optional<std::filesystem::path> container =
            cloud_ ? std::optional(containerIn(*cloud_)) : std::nullopt;
        drive_ = answersAtOnce ? std::make_shared<ScriptedCloudDrive>(container)
                               : std::make_shared<ScriptedCloudDrive>();
    }
    ~Device() { closeStore(); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    [[nodiscard]] VaultStoreEnvironment environment() {
        VaultStoreEnvironment environment;
        environment.sharedDirectory = home_ / "shared";
        environment.cloudDrive = drive_;
        environment.defaults = &defaults_;
        environment.keychain = &keychain_;
        environment.biometrics = &biometrics_;
        environment.clock = &clock_;
        environment.computerName = name_;
        environment.timeZone = QTimeZone(0);
        environment.kdfIterations = kTestIterations;
        return environment;
    }

    /// A new store (the application starting again), not started yet.
    VaultStore& openStore(std::optional<VaultStoreEnvironment> custom = std::nullopt) {
        closeStore();
        store_ = std::make_unique<VaultStore>(custom ? std::move(*custom) : environment());
        return *store_;
    }

    /// Lets running work end, then drops the store (the application quitting).
    void closeStore() {
        if (!store_) {
            return;
        }
        drive_->answer(cloud_ ? std::optional(containerIn(*cloud_)) : std::nullopt);
        // The answer may start one more pass once resolution ends: wait until both are over.
        const auto idle = [this] {
            return !store_->isSyncing() && !store_->storage().isResolving();
        };
        for (int round = 0; round < 10 && !idle(); ++round) {
            (void)processEventsUntil(idle);
        }
        EXPECT_TRUE(idle());
        store_.reset();
    }

    /// The drive's late answer.
    void answerCloud() {
        drive_->answer(cloud_ ? std::optional(containerIn(*cloud_)) : std::nullopt);
    }

    /// Runs the event loop until no sync pass is running and the cloud drive has answered
    /// (its answer starts a pass of its own).
    void settle() {
        const auto idle = [this] {
            return !store_->isSyncing() && !store_->storage().isResolving();
        };
        for (int round = 0; round < 10 && !idle(); ++round) {
            (void)processEventsUntil(idle);
        }
        ASSERT_TRUE(idle());
    }

    /// Starts a fresh store and creates a vault with it.
    VaultStore& createVault(const char* password = kPassword) {
        VaultStore& store = openStore();
        run(store.start());
        run(store.createVault(password));
        EXPECT_EQ(store.phase(), Phase{Phase::unlocked});
        settle();
        return store;
    }

    /// Starts a fresh store and unlocks it with the password (on the lock or welcome screen).
    VaultStore& openWithPassword(const char* password = kPassword) {
        VaultStore& store = openStore();
        run(store.start());
        EXPECT_TRUE(run(store.unlock(password))) << store.errorMessage().value_or("");
        settle();
        return store;
    }

    /// Starts the application again, online or with the cloud drive off, and expects the
    /// unlock session to open the vault.
    VaultStore& restart(bool online = true) {
        VaultStoreEnvironment custom = environment();
        if (!online) {
            custom.cloudDrive = std::make_shared<ScriptedCloudDrive>(std::nullopt);
        }
        VaultStore& store = openStore(std::move(custom));
        run(store.start());
        settle();
        EXPECT_EQ(store.phase(), Phase{Phase::unlocked});
        return store;
    }

    [[nodiscard]] VaultStore& store() { return *store_; }
    [[nodiscard]] std::filesystem::path localVault() const {
        return home_ / "shared" / "vault.tlwvault";
    }
    [[nodiscard]] std::filesystem::path sharedDirectory() const { return home_ / "shared"; }
    [[nodiscard]] const std::optional<std::filesystem::path>& cloud() const { return cloud_; }
    [[nodiscard]] InMemoryKeychain& keychain() { return keychain_; }
    [[nodiscard]] ScriptedBiometrics& biometrics() { return biometrics_; }
    [[nodiscard]] FixedClock& clock() { return clock_; }
    [[nodiscard]] SharedDefaults& defaults() { return defaults_; }

private:
    std::filesystem::path home_;
    std::optional<std::filesystem::path> cloud_;
    std::string name_;
    SharedDefaults defaults_;
    InMemoryKeychain keychain_;
    ScriptedBiometrics biometrics_{false, BiometryType::none};
    FixedClock clock_{kStart};
    std::shared_ptr<ScriptedCloudDrive> drive_;
    std::unique_ptr<VaultStore> store_;
};

} // namespace tallowin::test
