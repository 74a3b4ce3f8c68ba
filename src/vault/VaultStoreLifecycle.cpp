// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up, creation, unlock and lock of the vault store.
#include "core/DeviceKeyStore.h"
#include "core/PasswordPolicy.h"
#include "core/SharedConfiguration.h"
#include "core/UnlockSession.h"
#include "core/VaultError.h"
#include "vault/VaultStore.h"
#include "vault/VaultStoreJobs.h"

#include <QCoroFuture>
#include <QPointer>
#include <QTimer>

namespace tallowin {

namespace {
constexpr std::string_view kVaultExistsMessage =
    "A Tallowin vault already exists in your iCloud Drive. Enter its master password to use it.";
constexpr std::string_view kBiometricReason = "unlock your 2FA codes";

} // namespace

QCoro::Task<> VaultStore::start() {
    // Both arrive on the main thread; the reaction runs as a task of its own so that it never
    // runs inside the storage's own bookkeeping.
    const auto changed = [this] { QTimer::singleShot(0, this, [this] { storageChanged(); }); };
    storage_->onRemoteChange = changed;
    storage_->onConnected = changed;

    QPointer<VaultStore> self(this);
    if (localVaultExists()) {
        setPhase(Phase{Phase::locked});
        {
            // Not awaited: the container is found in the background.
            QCoro::Task<> lookup = storage_->waitForContainer(env_.startupContainerWait);
        }
        QCoro::Task<bool> session = unlockFromSession();
        const bool unlocked = co_await session;
        if (!self) {
            co_return;
        }
        if (!unlocked && phase_.kind == Phase::locked && policy_->canUseBiometricUnlock()) {
            QCoro::Task<> biometric = unlockWithBiometrics();
            co_await biometric;
        }
        co_return;
    }
    QCoro::Task<> wait = storage_->waitForContainer(env_.startupContainerWait);
    co_await wait;
    if (!self) {
        co_return;
    }
    QCoro::Task<> decide = decidePhase();
    co_await decide;
}

QCoro::Task<> VaultStore::decidePhase() {
    if (localVaultExists()) {
        setPhase(Phase{Phase::locked});
        if (policy_->canUseBiometricUnlock()) {
            QCoro::Task<> biometric = unlockWithBiometrics();
            co_await biometric;
        }
    } else if (storage_->isCloudAvailable()) {
        setPhase(Phase::makeSetup(storage_->vaultExistsInCloud()));
    } else if (storage_->isResolving()) {
        setPhase(Phase{Phase::waitingForICloud});
    } else {
        setPhase(Phase::makeSetup(false));
    }
}

void VaultStore::storageChanged() {
    emit storeChanged();
    switch (phase_.kind) {
    case Phase::unlocked:
        startSync();
        break;
    case Phase::setup:
        if (phase_.existingInICloud) {
            break;
        }
        [[fallthrough]];
    case Phase::waitingForICloud:
        // With a key in memory a vault is being created or opened here, and that operation
        // decides the phase (its own first write must not send the screen to `locked`).
        if (!key_) {
            QCoro::Task<> decide = decidePhase();
        }
        break;
    case Phase::loading:
    case Phase::locked:
        break;
    }
}

void VaultStore::continueOnThisDevice() {
    if (phase_.kind == Phase::waitingForICloud) {
        setPhase(Phase::makeSetup(false));
    }
}

QCoro::Task<> VaultStore::createVault(std::string password) {
    QPointer<VaultStore> self(this);
    QCoro::Task<> wait = storage_->waitForContainer(env_.createContainerWait);
    co_await wait;
    if (!self) {
        co_return;
    }
    const auto vaultExists = [this] {
        return storage_->vaultExistsInCloud() || localVaultExists();
    };
    const auto refuse = [this] {
        setPhase(Phase::makeSetup(true));
        setErrorMessage(std::string(kVaultExistsMessage));
    };
    if (vaultExists()) {
        refuse();
        co_return;
    }

    const VaultKey key = newVaultKey(*env_.random);
    const QFuture<JobOutcome<VaultEnvelope>> job = makeHeaderInBackground(
        std::move(password), key, deviceID(), now(), *env_.random, env_.kdfIterations);
    track(QFuture<void>(job));
    JobOutcome<VaultEnvelope> outcome = co_await job;
    if (!self) {
        co_return;
    }
    if (outcome.error) {
        setErrorMessage(errorMessageOf(outcome.error));
        co_return;
    }
    if (key_) {
        co_return; // a vault was opened meanwhile
    }
    // The derivation took a while: a vault that appeared meanwhile is not overwritten either.
    if (vaultExists()) {
        refuse();
        co_return;
    }

    key_ = key;
    header_ = std::move(*outcome.value);
    all_.clear();
    policy_->recordPasswordEntry(*key_);
    session_->save(*key_);
    QCoro::Task<bool> finish = finishOpening();
    const bool opened = co_await finish;
    if (self && !opened && !key_ && localVaultExists()) {
        setPhase(Phase{Phase::locked}); // locked while the first file was written
    }
}

QCoro::Task<bool> VaultStore::finishOpening() {
    QPointer<VaultStore> self(this);
    const std::uint64_t generation = keyGeneration_;
    QCoro::Task<> pass = sync(false);
    co_await pass;
    // A lock that came while the vault was being opened wins.
    if (!self || keyGeneration_ != generation) {
        co_return false;
    }
    setPhase(Phase{Phase::unlocked});
    co_return true;
}

QCoro::Task<VaultEnvelope> VaultStore::loadEnvelope() {
    QPointer<VaultStore> self(this);
    bool remoteFailed = false;
    if (storage_->isCloudAvailable()) {
        std::optional<Bytes> remote;
        try {
            QCoro::Task<RemoteRead> read = storage_->readRemote();
            RemoteRead result = co_await read;
            remote = std::move(result.current);
        } catch (...) {
            remoteFailed = true;
        }
        if (!self) {
            throw VaultError(VaultError::keyUnavailable);
        }
        if (remote) {
            try {
                co_return decodeEnvelope(*remote);
            } catch (const VaultError&) {
                // an undecodable cloud copy: the local copy is used instead
            }
        }
    }
    const QFuture<FileBytes> job = readVaultFileInBackground(storage_->localVaultURL());
    const FileBytes local = co_await job;
    if (local.error) {
        if (remoteFailed) {
            throw std::system_error(local.error);
        }
        throw VaultError(VaultError::keyUnavailable);
    }
    co_return decodeEnvelope(local.bytes);
}

QCoro::Task<bool> VaultStore::unlock(std::string password) {
    QPointer<VaultStore> self(this);
    std::optional<VaultEnvelope> envelope;
    std::exception_ptr failure;
    try {
        QCoro::Task<VaultEnvelope> load = loadEnvelope();
        VaultEnvelope loaded = co_await load;
        envelope = std::move(loaded);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return false;
    }
    if (failure) {
        setErrorMessage(errorMessageOf(failure));
        co_return false;
    }
    const QFuture<JobOutcome<VaultKey>> job = unwrapKeyInBackground(*envelope, std::move(password));
    JobOutcome<VaultKey> outcome = co_await job;
    if (!self) {
        co_return false;
    }
    if (outcome.error) {
        setErrorMessage(errorMessageOf(outcome.error));
        co_return false;
    }
    key_ = std::move(*outcome.value);
    header_ = std::move(*envelope);
    policy_->recordPasswordEntry(*key_);
    session_->save(*key_);
    QCoro::Task<bool> finish = finishOpening();
    co_return co_await finish;
}

QCoro::Task<> VaultStore::unlockWithBiometrics() {
    QPointer<VaultStore> self(this);
    const QFuture<JobOutcome<VaultKey>> job =
        loadDeviceKeyInBackground(*deviceKeys_, std::string(kBiometricReason));
    track(QFuture<void>(job));
    JobOutcome<VaultKey> loaded = co_await job;
    if (!self) {
        co_return;
    }
    std::exception_ptr failure = loaded.error;
    std::optional<VaultEnvelope> envelope;
    if (!failure) {
        try {
            QCoro::Task<VaultEnvelope> load = loadEnvelope();
            VaultEnvelope opened = co_await load;
            envelope = std::move(opened);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            co_return;
        }
    }
    if (!failure && envelope->keyID != loaded.value->id) {
        // The vault was re-created with another key: this device key opens nothing anymore.
        deviceKeys_->remove();
        failure = std::make_exception_ptr(VaultError(VaultError::keyUnavailable));
    }
    if (failure) {
        // A cancelled or failed check leaves the item and shows nothing.
        if (isVaultError(failure, VaultError::keyUnavailable) && !deviceKeys_->exists()) {
            setErrorMessage(std::string(VaultError::message(VaultError::keyUnavailable)));
        }
        co_return;
    }
    key_ = std::move(*loaded.value);
    header_ = std::move(*envelope);
    session_->save(*key_);
    QCoro::Task<bool> finish = finishOpening();
    co_await finish;
}

QCoro::Task<bool> VaultStore::unlockFromSession() {
    if (phase_.kind != Phase::locked) {
        co_return false;
    }
    std::optional<VaultKey> key;
    try {
        key = session_->load();
    } catch (...) {
        co_return false;
    }
    if (!key) {
        co_return false;
    }
    QPointer<VaultStore> self(this);
    std::optional<VaultEnvelope> envelope;
    try {
        QCoro::Task<VaultEnvelope> load = loadEnvelope();
        VaultEnvelope loaded = co_await load;
        envelope = std::move(loaded);
    } catch (...) {
        // any failure: false, quietly
    }
    if (!self || !envelope || envelope->keyID != key->id || phase_.kind != Phase::locked) {
        co_return false;
    }
    key_ = std::move(*key);
    header_ = std::move(*envelope);
    QCoro::Task<bool> finish = finishOpening();
    co_return co_await finish;
}

void VaultStore::lock(bool endSession) {
    if (endSession) {
        session_->clear();
    }
    // A key in memory outside `unlocked` belongs to an unlock or creation that is still
    // syncing: the lock wins over it too.
    if (phase_.kind != Phase::unlocked && !key_) {
        return;
    }
    if (syncRunning_ && key_) {
        unsavedAtLock_ = UnsavedAccounts{key_->id, all_};
    }
    key_.reset();
    ++keyGeneration_;
    all_.clear();
    accounts_.clear();
    emit accountsChanged();
    recentlyDeleted_.clear();
    emit recentlyDeletedChanged();
    if (phase_.kind == Phase::unlocked) {
        setPhase(Phase{Phase::locked});
    }
}

QCoro::Task<bool> VaultStore::changePassword(std::string current, std::string newPassword) {
    if (!key_ || !header_) {
        co_return false;
    }
    QPointer<VaultStore> self(this);
    const std::string keyID = key_->id;
    const QFuture<JobOutcome<VaultEnvelope>> job =
        rewrapKeyInBackground(*header_, std::move(current), std::move(newPassword), *key_,
                              deviceID(), now(), *env_.random, env_.kdfIterations);
    track(QFuture<void>(job));
    JobOutcome<VaultEnvelope> outcome = co_await job;
    if (!self) {
        co_return false;
    }
    if (outcome.error) {
        setErrorMessage(errorMessageOf(outcome.error));
        co_return false;
    }
    if (!key_ || key_->id != keyID) {
        co_return false; // locked meanwhile: there is nothing to write the new header with
    }
    header_ = std::move(*outcome.value);
    (void)env_.defaults->setDate(kLastPasswordEntryKey, now());
    QCoro::Task<> pass = sync(true);
    co_await pass;
    co_return true;
}

QCoro::Task<bool> VaultStore::checkPassword(std::string password) {
    if (!header_) {
        co_return false;
    }
    const QFuture<JobOutcome<VaultKey>> job = unwrapKeyInBackground(*header_, std::move(password));
    const JobOutcome<VaultKey> outcome = co_await job;
    co_return !outcome.error;
}

} // namespace tallowin
