// SPDX-License-Identifier: GPL-3.0-or-later
// The sync loop: one pass at a time merges the in-memory list with the local copy, the cloud
// copy and its conflict copies, and writes each copy only when its content differs.
#include "browser/LearnedSites.h"
#include "core/AccountMerge.h"
#include "core/VaultError.h"
#include "vault/IssuerRepair.h"
#include "vault/VaultStore.h"
#include "vault/VaultStoreJobs.h"

#include <QCoroFuture>
#include <QPointer>
#include <cstring>
#include <unordered_map>

namespace tallowin {

namespace {
/// How long a pass waits for another process's pass on the same files before it goes on.
constexpr std::chrono::seconds kPassLockWait{15};

struct IdHash {
    std::size_t operator()(const Uuid& id) const noexcept {
        std::uint64_t high = 0;
        std::uint64_t low = 0;
        std::memcpy(&high, id.bytes.data(), sizeof high);
        std::memcpy(&low, id.bytes.data() + sizeof high, sizeof low);
        return static_cast<std::size_t>((high * 0x9E3779B97F4A7C15ULL) ^ low);
    }
};

/// Whether a list read from a file holds exactly the accounts of `merged` (a merge result:
/// one account per id), equal in every field. Files are written in merge order, so the lists
/// usually compare equal as they are; otherwise they are compared by id.
bool sameAccounts(const std::vector<Account>& stored, const std::vector<Account>& merged) {
    if (stored.size() != merged.size()) {
        return false;
    }
    if (stored == merged) {
        return true;
    }
    std::unordered_map<Uuid, const Account*, IdHash> byID;
    byID.reserve(stored.size());
    for (const Account& account : stored) {
        if (!byID.emplace(account.id, &account).second) {
            return false; // the same id twice
        }
    }
    for (const Account& account : merged) {
        const auto it = byID.find(account.id);
        if (it == byID.end() || !(*it->second == account)) {
            return false;
        }
    }
    return true;
}

/// The accounts of a conflict copy, or none when it does not decode, comes from a newer
/// program, belongs to another key or does not open.
std::optional<std::vector<Account>> conflictAccounts(const Bytes& data, const VaultKey& key) {
    try {
        const VaultEnvelope envelope = decodeEnvelope(data);
        if (envelope.keyID != key.id) {
            return std::nullopt;
        }
        return openContents(envelope, key);
    } catch (const VaultError&) {
    } catch (const JSONDecodeError&) {
    }
    return std::nullopt;
}

/// Suspends a caller of sync() until the running loop has finished.
struct SyncLoopEnd {
    std::vector<std::coroutine_handle<>>* waiters;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) { waiters->push_back(handle); }
    void await_resume() const noexcept {}
};
} // namespace

void VaultStore::startSync() {
    if (!key_) {
        return;
    }
    if (syncRunning_) {
        resyncRequested_ = true;
        return;
    }
    syncRunning_ = true;
    QCoro::Task<> loop = runSyncLoop(); // runs on by itself; sync() waits through syncWaiters_
}

QCoro::Task<> VaultStore::sync(bool force) {
    if (force) {
        forceNextWrite_ = true;
    }
    startSync();
    if (syncRunning_) {
        co_await SyncLoopEnd{&syncWaiters_};
    }
}

QCoro::Task<> VaultStore::runSyncLoop() {
    QPointer<VaultStore> self(this);
    std::optional<VaultKey> key;
    do {
        resyncRequested_ = false;
        const bool force = std::exchange(forceNextWrite_, false);
        if (key_) {
            key = key_;
        } else if (!key || !unsavedAtLock_ || unsavedAtLock_->keyID != key->id) {
            break; // locked, and nothing left to write
        }
        QCoro::Task<> pass = syncPass(force, *key);
        co_await pass;
        if (!self) {
            co_return;
        }
    } while (resyncRequested_);
    finishSyncLoop();
}

void VaultStore::finishSyncLoop() {
    unsavedAtLock_.reset();
    syncRunning_ = false;
    for (const std::coroutine_handle<> waiter : std::exchange(syncWaiters_, {})) {
        waiter.resume();
    }
}

QCoro::Task<> VaultStore::syncPass(bool force, VaultKey key) {
    if (!header_) {
        co_return;
    }
    QPointer<VaultStore> self(this);
    const std::uint64_t generation = keyGeneration_;
    const bool afterLock = !key_;
    // Whether the pass may still assign the lists: no lock came since it started.
    const auto holdsSession = [&] { return !afterLock && keyGeneration_ == generation; };

    setSyncStatus(SyncStatus{SyncStatus::syncing, {}});
    std::exception_ptr failure;
    try {
        // Another process of this user on the same files (the command line beside the
        // application, or two commands of a script) would drop what this pass writes between
        // its reads and its writes: passes take turns on the shared directory.
        const QFuture<std::shared_ptr<FolderLock>> locking =
            lockFolderInBackground(storage_->sharedDirectory(), kPassLockWait);
        const std::shared_ptr<FolderLock> folderLock = co_await locking;
        if (!self) {
            co_return;
        }
        const Date time = now(); // after the wait: the pass is stamped when it runs

        // The local copy; a missing or unreadable one, or one of another key, adds nothing.
        const QFuture<FileBytes> localRead = readVaultFileInBackground(storage_->localVaultURL());
        const FileBytes localFile = co_await localRead;
        if (!self) {
            co_return;
        }
        std::optional<std::vector<Account>> local;
        if (!localFile.error) {
            const VaultEnvelope envelope = decodeEnvelope(localFile.bytes);
            if (envelope.keyID == key.id) {
                local = openContents(envelope, key);
            }
        }

        // The cloud copy and its conflict copies.
        const bool cloud = storage_->isCloudAvailable();
        std::optional<std::vector<Account>> remote;
        std::vector<std::vector<Account>> conflictLists;
        std::vector<ConflictVersion> conflicts;
        if (cloud) {
            if (beforeCloudRead_) {
                beforeCloudRead_();
            }
            QCoro::Task<RemoteRead> remoteRead = storage_->readRemote();
            RemoteRead read = co_await remoteRead;
            if (!self) {
                co_return;
            }
            if (read.current) {
                const VaultEnvelope envelope = decodeEnvelope(*read.current);
                if (envelope.keyID != key.id) {
                    throw VaultError(VaultError::foreignVault);
                }
                remote = openContents(envelope, key);
                // A master password changed on another device arrives here.
                if (!force && header_->keyID == envelope.keyID &&
                    envelope.savedAt > header_->savedAt) {
                    header_->kdf = envelope.kdf;
                    header_->wrappedKey = envelope.wrappedKey;
                }
            }
            for (RemoteRead::Conflict& conflict : read.conflicts) {
                if (std::optional<std::vector<Account>> accounts =
                        conflictAccounts(conflict.data, key)) {
                    conflictLists.push_back(std::move(*accounts));
                }
                conflicts.push_back(std::move(conflict.version)); // resolved by the write
            }
        }

        // One merge over every version. The in-memory list is taken now, after the reads,
        // so that edits made while the pass waited are part of it; after a lock it is what
        // the lock left unsaved.
        std::vector<const std::vector<Account>*> lists;
        if (holdsSession()) {
            lists.push_back(&all_);
        } else if (unsavedAtLock_ && unsavedAtLock_->keyID == key.id) {
            lists.push_back(&unsavedAtLock_->accounts);
        }
        if (local) {
            lists.push_back(&*local);
        }
        if (remote) {
            lists.push_back(&*remote);
        }
        for (const std::vector<Account>& list : conflictLists) {
            lists.push_back(&list);
        }
        std::vector<Account> merged = repairIssuers(mergeAccounts(lists, time), time, deviceID());

        if (holdsSession()) {
            all_ = merged;
            publish();
        }
        if (header_->keyID != key.id) {
            throw VaultError(VaultError::foreignVault);
        }

        // Each copy is written only when its content differs (or the pass is forced); the
        // file is sealed once, and only when some copy is written.
        const bool localCurrent = local && sameAccounts(*local, merged);
        const bool writeLocal = force || !localCurrent;
        const bool writeCloud =
            cloud && (force || !remote || !sameAccounts(*remote, merged) || !conflicts.empty());
        const bool addHistory = cloud ? writeCloud : !localCurrent;
        Bytes bytes;
        if (writeLocal || writeCloud || addHistory) {
            VaultEnvelope envelope = *header_;
            envelope.payload = sealContents(merged, key, *env_.random);
            envelope.savedAt = time;
            envelope.savedBy = env_.computerName;
            bytes = encodeEnvelope(envelope);
        }
        if (writeLocal) {
            const QFuture<std::error_code> localWrite =
                writeVaultFileInBackground(storage_->localVaultURL(), bytes);
            const std::error_code error = co_await localWrite;
            if (!self) {
                co_return;
            }
            if (error) {
                throw std::system_error(error);
            }
        }
        if (writeCloud) {
            QCoro::Task<> remoteWrite = storage_->writeRemote(bytes, std::move(conflicts));
            co_await remoteWrite;
            if (!self) {
                co_return;
            }
        }
        if (addHistory) {
            QCoro::Task<> history =
                storage_->writeHistoryVersion(std::move(bytes), env_.computerName, time);
            co_await history;
            if (!self) {
                co_return;
            }
        }

        // Sites the browser companions learned join the accounts' websites; the next pass
        // writes them. Only into this session's list: absorbing consumes the learned file.
        if (holdsSession()) {
            AbsorbResult absorbed =
                absorbLearnedSites(storage_->sharedDirectory(), all_, now(), deviceID());
            if (absorbed.changed) {
                all_ = std::move(absorbed.accounts);
                publish();
                startSync();
            }
        }
        setLastSynced(now());
        setSyncStatus(SyncStatus{cloud ? SyncStatus::idle : SyncStatus::localOnly, {}});
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !failure) {
        co_return;
    }
    setSyncStatus(SyncStatus::makeFailed(errorMessageOf(failure)));
    if (isVaultError(failure, VaultError::foreignVault)) {
        setErrorMessage(std::string(VaultError::message(VaultError::foreignVault)));
    }
}

} // namespace tallowin
