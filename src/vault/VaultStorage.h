// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Bytes.h"
#include "core/Date.h"
#include "vault/Snapshot.h"

#include <QCoroTask>
#include <QObject>
#include <QTimeZone>
#include <chrono>
#include <coroutine>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFileSystemWatcher;

namespace tallowin {

class CloudDrive;

/// Name of the vault file, in the cloud container's "Documents" folder and in the shared
/// directory.
inline constexpr std::string_view kVaultFileName = "vault.tlwvault";

/// A conflict copy of the cloud vault that a sync tool left beside it.
struct ConflictVersion {
    std::filesystem::path url;

    friend bool operator==(const ConflictVersion&, const ConflictVersion&) = default;
};

/// The cloud vault file and its conflict copies, as read by `VaultStorage::readRemote`.
struct RemoteRead {
    struct Conflict {
        ConflictVersion version;
        Bytes data;

        friend bool operator==(const Conflict&, const Conflict&) = default;
    };

    std::optional<Bytes> current; ///< none when the file does not exist
    std::vector<Conflict> conflicts;

    friend bool operator==(const RemoteRead&, const RemoteRead&) = default;
};

/// The file layer under the vault store: finds the cloud container, watches it, reads and
/// writes the cloud vault with its conflict copies, and keeps the history versions. It moves
/// opaque bytes only. Confined to the main thread; file work runs on worker threads and the
/// waiting operations are coroutines, which touch the storage only before their first wait.
/// A `waitForContainer` still waiting when the storage is destroyed never resumes.
class VaultStorage final : public QObject {
public:
    /// `sharedDirectory` holds the local vault copy (and the history when there is no cloud
    /// container); `timeZone` fixes the calendar days of history pruning (none: the machine's
    /// time zone).
    VaultStorage(std::filesystem::path sharedDirectory, std::shared_ptr<CloudDrive> cloudDrive,
                 std::optional<QTimeZone> timeZone = std::nullopt, QObject* parent = nullptr);
    ~VaultStorage() override;
    VaultStorage(const VaultStorage&) = delete;
    VaultStorage& operator=(const VaultStorage&) = delete;

    /// Called on the main thread whenever something changed in the container's "Documents".
    std::function<void()> onRemoteChange;
    /// Called on the main thread when container resolution finished, with or without one.
    std::function<void()> onConnected;

    /// The container's "Documents" folder, once resolution found the container.
    [[nodiscard]] const std::optional<std::filesystem::path>& iCloudDocuments() const {
        return iCloudDocuments_;
    }
    /// True from the start of container resolution until it finished.
    [[nodiscard]] bool isResolving() const { return isResolving_; }
    /// True once resolution was started; it never starts twice.
    [[nodiscard]] bool resolveStarted() const { return resolveStarted_; }
    [[nodiscard]] bool isCloudAvailable() const { return iCloudDocuments_.has_value(); }

    [[nodiscard]] const std::filesystem::path& sharedDirectory() const { return sharedDirectory_; }
    /// sharedDirectory/vault.tlwvault, the copy the browser companions read.
    [[nodiscard]] std::filesystem::path localVaultURL() const;
    /// Documents/vault.tlwvault in the container; none while the container is unknown.
    [[nodiscard]] std::optional<std::filesystem::path> cloudVaultURL() const;
    /// Documents/History when the container is known, else sharedDirectory/History.
    [[nodiscard]] std::filesystem::path historyDirectory() const;
    /// The folder the user is shown: Documents when the container is known, else
    /// sharedDirectory.
    [[nodiscard]] std::filesystem::path vaultFolder() const;

    /// Starts container resolution (once per process) and waits until it finished or
    /// `timeout` passed, whichever comes first. A timeout is not an error: resolution goes
    /// on and reports through `onConnected`.
    QCoro::Task<> waitForContainer(std::chrono::milliseconds timeout);
    /// Whether the cloud vault file exists.
    [[nodiscard]] bool vaultExistsInCloud() const;
    /// Watches the container's "Documents" folder and the vault file in it; changes call
    /// `onRemoteChange`. Started by resolution when it finds the container; idempotent.
    void startMonitoring();

    /// Reads the cloud vault and every readable conflict copy beside it. Throws
    /// VaultError(iCloudUnavailable) without a container, std::system_error on a read error.
    QCoro::Task<RemoteRead> readRemote();
    /// Replaces the cloud vault atomically (mode 0600), then deletes the given conflict
    /// copies. Throws like `readRemote`; after a failed write the conflict copies stay.
    QCoro::Task<> writeRemote(Bytes bytes, std::vector<ConflictVersion> conflicts);
    /// Writes a history version named after `now` and `deviceName`, then prunes the history
    /// at `now`. Never fails.
    QCoro::Task<> writeHistoryVersion(Bytes bytes, std::string deviceName, Date now);
    /// The history versions, newest first. Never fails (an unreadable folder lists nothing).
    QCoro::Task<std::vector<Snapshot>> listSnapshots();
    /// Deletes the history versions that `expiredSnapshots` names at `now`; errors ignored.
    QCoro::Task<> pruneHistory(Date now);
    /// Reads one history version; throws std::system_error on a read error.
    QCoro::Task<Bytes> readSnapshot(std::filesystem::path url);

private:
    struct Waiter {
        std::uint64_t id;
        std::coroutine_handle<> handle;
    };

    void startResolution();
    void finishResolution(std::optional<std::filesystem::path> container);
    void addWaiter(std::coroutine_handle<> handle, std::chrono::milliseconds timeout);
    void resumeWaiter(std::uint64_t id);
    void watchVaultFile();
    void remoteChanged();

    std::filesystem::path sharedDirectory_;
    std::shared_ptr<CloudDrive> cloudDrive_;
    std::optional<QTimeZone> timeZone_;

    std::optional<std::filesystem::path> iCloudDocuments_;
    bool isResolving_ = false;
    bool resolveStarted_ = false;
    QFileSystemWatcher* watcher_ = nullptr;
    std::vector<Waiter> waiters_;
    std::uint64_t nextWaiterId_ = 0;
};

} // namespace tallowin
