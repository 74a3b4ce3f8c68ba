// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one observable model of the vault: phases, unlock and lock, editing, the sync
// loop, import, export and history. Confined to the main thread; waiting work (key
// derivation, cloud reads and writes) runs on worker threads and comes back here before
// any field is touched. Every operation re-reads the fields after each co_await.

#include <QObject>
#include <QString>
#include <QVariantList>

// moc reads only the declarations below and cannot parse C++20 library headers.
#ifndef Q_MOC_RUN
#include "core/Account.h"
#include "core/Clock.h"
#include "core/RandomSource.h"
#include "core/VaultEnvelope.h"
#include "core/VaultKey.h"
#include "vault/Snapshot.h"
#include "vault/VaultStorage.h"

#include <QCoroTask>
#include <QFuture>
#include <chrono>
#include <coroutine>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#endif

namespace tallowin {

class Biometrics;
class KeychainItems;
class SharedDefaults;

/// Which screen the application shows.
struct Phase {
    Q_GADGET
    Q_PROPERTY(Kind kind MEMBER kind)
    Q_PROPERTY(bool existingInICloud MEMBER existingInICloud)
public:
    enum Kind { setup, loading, waitingForICloud, locked, unlocked };
    Q_ENUM(Kind)

    Kind kind = loading;
    bool existingInICloud = false; ///< only meaningful for `setup`

    [[nodiscard]] static Phase makeSetup(bool existingInICloud) {
        return {setup, existingInICloud};
    }
    friend bool operator==(const Phase& a, const Phase& b) {
        return a.kind == b.kind && (a.kind != setup || a.existingInICloud == b.existingInICloud);
    }
};

/// Outcome of the last sync pass.
struct SyncStatus {
    Q_GADGET
    Q_PROPERTY(Kind kind MEMBER kind)
    Q_PROPERTY(QString message READ qmlMessage)
public:
    enum Kind { idle, syncing, localOnly, failed };
    Q_ENUM(Kind)

    Kind kind = idle;
    std::string message; ///< only for `failed`

    [[nodiscard]] static SyncStatus makeFailed(std::string message) {
        return {failed, std::move(message)};
    }
    [[nodiscard]] QString qmlMessage() const { return QString::fromStdString(message); }
    friend bool operator==(const SyncStatus& a, const SyncStatus& b) {
        return a.kind == b.kind && (a.kind != failed || a.message == b.message);
    }
};

/// Counts reported by addDrafts and importAccounts.
struct AddResult {
    int added = 0;
    int alreadyPresent = 0;
    friend bool operator==(const AddResult&, const AddResult&) = default;
};

/// Everything the store needs from outside, injected so tests run without a desktop. The
/// store does not own the objects behind the pointers; they must outlive it. `defaults`,
/// `keychain` and `biometrics` are required; no `clock` means the wall clock, no `random`
/// the secure random source (used from worker threads too), an empty `computerName` the
/// host name, no `cloudDrive` a cloud drive that is off.
struct VaultStoreEnvironment {
    std::filesystem::path sharedDirectory;  ///< local vault copy, learned sites, local history
    std::shared_ptr<CloudDrive> cloudDrive; ///< the synchronised folder (or a stand-in)
    SharedDefaults* defaults = nullptr;     ///< settings.json
    KeychainItems* keychain = nullptr;      ///< Secret Service or in-memory stand-in
    Biometrics* biometrics = nullptr;       ///< fingerprint reader or scripted stand-in
    const Clock* clock = nullptr;           ///< wall clock or a test clock
    RandomSource* random = nullptr;         ///< secure random or a test source
    std::string computerName;               ///< `savedBy` and history names; see hostComputerName()
    std::optional<QTimeZone> timeZone;      ///< history day keys; none = the machine's zone
    std::chrono::milliseconds startupContainerWait{8000};
    std::chrono::milliseconds createContainerWait{2000};
    std::int64_t kdfIterations = kDefaultKDFIterations; ///< only tests pass another value
};

/// This computer's name for `savedBy` and history file names: the host name, or "Mac"
/// when there is none.
[[nodiscard]] std::string hostComputerName();

/// Operations still waiting when the store is destroyed never resume; the destructor waits
/// for the key derivation and keychain work it started.
class VaultStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(tallowin::Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(tallowin::SyncStatus syncStatus READ syncStatus NOTIFY syncStatusChanged)
    Q_PROPERTY(QString errorMessage READ qmlErrorMessage WRITE setQmlErrorMessage NOTIFY
                   errorMessageChanged)
    Q_PROPERTY(QString notice READ qmlNotice NOTIFY noticeChanged)
    Q_PROPERTY(double lastSynced READ qmlLastSynced NOTIFY lastSyncedChanged)
    Q_PROPERTY(QVariantList accounts READ qmlAccounts NOTIFY accountsChanged)
    Q_PROPERTY(QVariantList recentlyDeleted READ qmlRecentlyDeleted NOTIFY recentlyDeletedChanged)
    Q_PROPERTY(int accountCount READ accountCount NOTIFY accountsChanged)
    Q_PROPERTY(int recentlyDeletedCount READ recentlyDeletedCount NOTIFY recentlyDeletedChanged)

public:
    explicit VaultStore(VaultStoreEnvironment environment, QObject* parent = nullptr);
    ~VaultStore() override;

    // Published state.
    [[nodiscard]] const Phase& phase() const { return phase_; }
    [[nodiscard]] const std::vector<Account>& accounts() const { return accounts_; }
    [[nodiscard]] const std::vector<Account>& recentlyDeleted() const { return recentlyDeleted_; }
    [[nodiscard]] const SyncStatus& syncStatus() const { return syncStatus_; }
    [[nodiscard]] const std::optional<Date>& lastSynced() const { return lastSynced_; }
    [[nodiscard]] const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    [[nodiscard]] const std::optional<std::string>& notice() const { return notice_; }
    /// Screens clear or set the message themselves.
    void setErrorMessage(std::optional<std::string> message);
    void setNotice(std::optional<std::string> notice);

    // Unpublished state, readable for tests and the command line.
    [[nodiscard]] const std::vector<Account>& all() const { return all_; }
    [[nodiscard]] bool hasKey() const { return key_.has_value(); }
    [[nodiscard]] const std::optional<VaultEnvelope>& header() const { return header_; }
    [[nodiscard]] VaultStorage& storage() { return *storage_; }
    [[nodiscard]] bool isSyncing() const { return syncRunning_; }

    // Lifecycle.
    QCoro::Task<> start();
    void continueOnThisDevice();
    QCoro::Task<> createVault(std::string password);
    QCoro::Task<bool> unlock(std::string password);
    QCoro::Task<> unlockWithBiometrics();
    QCoro::Task<bool> unlockFromSession();
    void lock(bool endSession);
    QCoro::Task<bool> changePassword(std::string current, std::string newPassword);
    QCoro::Task<bool> checkPassword(std::string password);
    [[nodiscard]] bool usesCloud() const;
    [[nodiscard]] bool isWaitingForCloud() const;
    void storageChanged();

    // Editing: each ends with publish() and startSync().
    AddResult addDrafts(const std::vector<AccountDraft>& drafts);
    void updateAccount(const Account& edited);
    void moveToRecentlyDeleted(const Uuid& id);
    void restoreDeleted(const Uuid& id);
    void deleteNow(const Uuid& id);

    // Sync.
    void startSync();
    QCoro::Task<> sync(bool force);

    // Import, export, history.
    void addPendingImports(std::vector<std::filesystem::path> files);
    void importPendingFiles();
    AddResult importAccounts(const std::vector<Account>& accounts);
    QCoro::Task<std::vector<Account>> openBackup(Bytes bytes, std::string password);
    QCoro::Task<Bytes> exportBackup(std::string password);
    [[nodiscard]] std::string setupLinksText() const;
    QCoro::Task<std::vector<Snapshot>> listSnapshots();
    QCoro::Task<std::vector<Account>> snapshotAccounts(Snapshot snapshot);
    int restoreVersion(const std::vector<Account>& versionAccounts);
    /// "Tallowin Backup " followed by the UTC date of `now` (yyyy-MM-dd).
    [[nodiscard]] static std::string defaultBackupName(Date now);

signals:
    void phaseChanged();
    void accountsChanged();
    void recentlyDeletedChanged();
    void syncStatusChanged();
    void lastSyncedChanged();
    void errorMessageChanged();
    void noticeChanged();
    /// Something derived from storage changed ("iCloud Drive" vs "This device only").
    void storeChanged();

private:
    // QML accessors.
    [[nodiscard]] QString qmlErrorMessage() const;
    void setQmlErrorMessage(const QString& message);
    [[nodiscard]] QString qmlNotice() const;
    /// Milliseconds since 1970 (a JavaScript date value); 0 before the first pass.
    [[nodiscard]] double qmlLastSynced() const;
    /// The lists as maps for QML: the account's fields without its secret, dates as
    /// JavaScript date values.
    [[nodiscard]] QVariantList qmlAccounts() const;
    [[nodiscard]] QVariantList qmlRecentlyDeleted() const;
    [[nodiscard]] int accountCount() const { return static_cast<int>(accounts_.size()); }
    [[nodiscard]] int recentlyDeletedCount() const {
        return static_cast<int>(recentlyDeleted_.size());
    }

    // Implementation details live in the .cpp files; declare what they share here.
    void setPhase(Phase phase);
    void setSyncStatus(SyncStatus status);
    void setLastSynced(Date date);
    void publish();
    QCoro::Task<> decidePhase();
    QCoro::Task<VaultEnvelope> loadEnvelope();
    /// The common end of every unlock: sync, then `unlocked` unless a lock came meanwhile.
    QCoro::Task<bool> finishOpening();
    QCoro::Task<> runSyncLoop();
    /// One pass with `key`; without `key_` it only writes what a lock left unsaved.
    QCoro::Task<> syncPass(bool force, VaultKey key);
    void finishSyncLoop();
    [[nodiscard]] bool localVaultExists() const;
    [[nodiscard]] Date now() const;
    [[nodiscard]] std::string deviceID();
    /// Keeps `job` so that the destructor can wait for it.
    void track(const QFuture<void>& job);

    VaultStoreEnvironment env_;
    std::unique_ptr<VaultStorage> storage_;
    std::unique_ptr<class DeviceKeyStore> deviceKeys_;
    std::unique_ptr<class UnlockSession> session_;
    std::unique_ptr<class PasswordPolicy> policy_;

    Phase phase_;
    std::vector<Account> accounts_;
    std::vector<Account> recentlyDeleted_;
    SyncStatus syncStatus_;
    std::optional<Date> lastSynced_;
    std::optional<std::string> errorMessage_;
    std::optional<std::string> notice_;

    std::vector<std::filesystem::path> pendingImports_;
    std::vector<Account> all_;
    std::optional<VaultKey> key_;
    std::optional<VaultEnvelope> header_;
    bool syncRunning_ = false; ///< the sync loop (`syncTask`) is running
    bool resyncRequested_ = false;
    bool forceNextWrite_ = false;
    std::uint64_t keyGeneration_ = 0; ///< bumped by lock(): a pass started before must not publish
    /// The accounts that a lock took away while a pass was running, with their key id:
    /// the running loop still writes them, so an edit made just before locking is kept.
    struct UnsavedAccounts {
        std::string keyID;
        std::vector<Account> accounts;
    };
    std::optional<UnsavedAccounts> unsavedAtLock_;
    std::vector<std::coroutine_handle<>> syncWaiters_; ///< callers of sync() waiting for the loop
    std::vector<QFuture<void>> jobs_;                  ///< background work that uses this store
    std::string deviceID_;                             ///< cached `currentDeviceID`

    /// Tests: runs in every pass right before it reads the cloud copy.
    std::function<void()> beforeCloudRead_;
    friend class VaultStoreProbe;
};

/// Words for the sync status line and banners are the screens'; this is the store's
/// `failed(message)` text for an exception.
[[nodiscard]] std::string errorText(const std::exception& error);

} // namespace tallowin

Q_DECLARE_METATYPE(tallowin::Phase)
Q_DECLARE_METATYPE(tallowin::SyncStatus)
