// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/VaultStorage.h"

#include "core/FileIO.h"
#include "core/VaultError.h"
#include "platform/CloudDrive.h"
#include "vault/ConflictCopies.h"
#include "vault/HistoryRetention.h"

#include <QCoroFuture>
#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QPromise>
#include <QTimer>
#include <QtConcurrent/qtconcurrenttask.h>
#include <algorithm>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

namespace tallowin {

namespace fs = std::filesystem;

namespace {
constexpr std::string_view kDocumentsFolder = "Documents";
constexpr std::string_view kHistoryFolder = "History";

// Vault reads and writes go before history work in the worker pool's queue.
constexpr int kUserInitiatedPriority = 1;
constexpr int kUtilityPriority = 0;

// Bounds against a folder filled by a misbehaving peer. Conflict copies beyond them stay on
// disk (they are not resolved) and are read by a later pass.
constexpr std::size_t kMaxFolderEntries = 100'000;
constexpr std::size_t kMaxConflictCopies = 32;
constexpr std::size_t kMaxConflictBytes = kMaxVaultFileBytes;

using Container = std::optional<fs::path>;

struct BytesOutcome {
    std::error_code error;
    Bytes bytes;
};

struct RemoteReadOutcome {
    std::error_code error;
    RemoteRead read;
};

template <typename Job> auto runInBackground(int priority, Job job) {
    return QtConcurrent::task(std::move(job)).withPriority(priority).spawn();
}

std::error_code outOfMemory() {
    return std::make_error_code(std::errc::not_enough_memory);
}

QString qtPath(const fs::path& path) {
    return QString::fromStdString(path.native());
}

std::vector<fs::path> listFolder(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end;
         !error && it != end && entries.size() < kMaxFolderEntries; it.increment(error)) {
        entries.push_back(it->path());
    }
    return entries;
}

RemoteReadOutcome readRemoteFiles(const fs::path& documents) {
    RemoteReadOutcome outcome;
    Bytes current;
    if (const std::error_code error =
            readFile(documents / kVaultFileName, current, kMaxVaultFileBytes)) {
        if (error != std::errc::no_such_file_or_directory) {
            outcome.error = error;
            return outcome;
        }
    } else {
        outcome.read.current = std::move(current);
    }

    std::vector<fs::path> copies;
    for (fs::path& entry : listFolder(documents)) {
        if (isConflictCopyName(entry.filename().native())) {
            copies.push_back(std::move(entry));
        }
    }
    std::sort(copies.begin(), copies.end());
    std::size_t totalBytes = 0;
    for (fs::path& copy : copies) {
        if (outcome.read.conflicts.size() == kMaxConflictCopies) {
            break;
        }
        Bytes data;
        if (readFile(copy, data, kMaxVaultFileBytes) ||
            totalBytes + data.size() > kMaxConflictBytes) {
            continue; // unreadable copies are left out, and left alone
        }
        totalBytes += data.size();
        outcome.read.conflicts.push_back({ConflictVersion{std::move(copy)}, std::move(data)});
    }
    return outcome;
}

std::error_code writeRemoteFiles(const fs::path& vault, const Bytes& bytes,
                                 const std::vector<ConflictVersion>& conflicts) {
    if (const std::error_code error = writeFileAtomically(vault, bytes, kPrivateFileMode)) {
        return error;
    }
    for (const ConflictVersion& conflict : conflicts) {
        // Only conflict copies beside the vault: never the vault itself or anything else.
        if (conflict.url.parent_path() == vault.parent_path() &&
            isConflictCopyName(conflict.url.filename().native())) {
            std::error_code ignored;
            fs::remove(conflict.url, ignored);
        }
    }
    return {};
}

std::vector<Snapshot> listHistory(const fs::path& folder) {
    std::vector<Snapshot> snapshots;
    for (const fs::path& entry : listFolder(folder)) {
        if (std::optional<Snapshot> snapshot = parseSnapshotName(entry)) {
            snapshots.push_back(std::move(*snapshot));
        }
    }
    std::sort(snapshots.begin(), snapshots.end(), [](const Snapshot& a, const Snapshot& b) {
        return a.date != b.date ? a.date > b.date : a.url < b.url;
    });
    return snapshots;
}

void pruneFolder(const fs::path& folder, Date now, const std::optional<QTimeZone>& zone) {
    for (const Snapshot& snapshot : expiredSnapshots(listHistory(folder), now, zone)) {
        std::error_code ignored;
        fs::remove(snapshot.url, ignored);
    }
}

// The background jobs. They are started outside the coroutines so that no lambda or other
// temporary lives in a co_await expression (GCC 12 destroys some of those twice).
QFuture<RemoteReadOutcome> readRemoteInBackground(fs::path documents) {
    return runInBackground(kUserInitiatedPriority, [documents = std::move(documents)] {
        try {
            return readRemoteFiles(documents);
        } catch (const std::bad_alloc&) {
            return RemoteReadOutcome{outOfMemory(), {}};
        }
    });
}

QFuture<std::error_code> writeRemoteInBackground(fs::path vault, Bytes bytes,
                                                 std::vector<ConflictVersion> conflicts) {
    return runInBackground(
        kUserInitiatedPriority,
        [vault = std::move(vault), bytes = std::move(bytes), conflicts = std::move(conflicts)] {
            try {
                return writeRemoteFiles(vault, bytes, conflicts);
            } catch (const std::bad_alloc&) {
                return outOfMemory();
            }
        });
}

QFuture<void> writeHistoryInBackground(fs::path folder, std::string name, Bytes bytes, Date now,
                                       std::optional<QTimeZone> zone) {
    return runInBackground(kUtilityPriority, [folder = std::move(folder), name = std::move(name),
                                              bytes = std::move(bytes), now,
                                              zone = std::move(zone)] {
        try {
            std::error_code ignored;
            fs::create_directories(folder, ignored);
            ignored = writeFileAtomically(folder / name, bytes, kPrivateFileMode);
            pruneFolder(folder, now, zone);
        } catch (const std::bad_alloc&) {
            // history is best effort; the next write tries again
        }
    });
}

QFuture<std::vector<Snapshot>> listHistoryInBackground(fs::path folder) {
    return runInBackground(kUtilityPriority, [folder = std::move(folder)] {
        try {
            return listHistory(folder);
        } catch (const std::bad_alloc&) {
            return std::vector<Snapshot>{};
        }
    });
}

QFuture<void> pruneHistoryInBackground(fs::path folder, Date now, std::optional<QTimeZone> zone) {
    return runInBackground(kUtilityPriority,
                           [folder = std::move(folder), now, zone = std::move(zone)] {
                               try {
                                   pruneFolder(folder, now, zone);
                               } catch (const std::bad_alloc&) {
                                   // best effort; the next history write prunes again
                               }
                           });
}

QFuture<BytesOutcome> readSnapshotInBackground(fs::path url) {
    return runInBackground(kUtilityPriority, [url = std::move(url)] {
        BytesOutcome outcome;
        try {
            outcome.error = readFile(url, outcome.bytes, kMaxVaultFileBytes);
        } catch (const std::bad_alloc&) {
            outcome = {outOfMemory(), {}};
        }
        return outcome;
    });
}

// Runs on the lookup thread: asks the cloud drive for the container and prepares the
// history folder that will be used.
Container lookUpContainer(CloudDrive* drive, const fs::path& sharedDirectory) {
    Container container;
    try {
        container = drive ? drive->lookupContainer() : std::nullopt;
    } catch (...) {
        container.reset(); // a failing lookup counts as no container
    }
    std::error_code ignored;
    fs::create_directories(container ? *container / kDocumentsFolder / kHistoryFolder
                                     : sharedDirectory / kHistoryFolder,
                           ignored);
    return container;
}
} // namespace

VaultStorage::VaultStorage(fs::path sharedDirectory, std::shared_ptr<CloudDrive> cloudDrive,
                           std::optional<QTimeZone> timeZone, QObject* parent)
    : QObject(parent), sharedDirectory_(std::move(sharedDirectory)),
      cloudDrive_(std::move(cloudDrive)), timeZone_(std::move(timeZone)) {}

// Container waiters still suspended stay so: resuming them would hand their callers a
// storage that is gone.
VaultStorage::~VaultStorage() = default;

fs::path VaultStorage::localVaultURL() const {
    return sharedDirectory_ / kVaultFileName;
}

std::optional<fs::path> VaultStorage::cloudVaultURL() const {
    if (!iCloudDocuments_) {
        return std::nullopt;
    }
    return *iCloudDocuments_ / kVaultFileName;
}

fs::path VaultStorage::historyDirectory() const {
    return (iCloudDocuments_ ? *iCloudDocuments_ : sharedDirectory_) / kHistoryFolder;
}

fs::path VaultStorage::vaultFolder() const {
    return iCloudDocuments_ ? *iCloudDocuments_ : sharedDirectory_;
}

QCoro::Task<> VaultStorage::waitForContainer(std::chrono::milliseconds timeout) {
    if (iCloudDocuments_) {
        co_return;
    }
    if (!resolveStarted_) {
        startResolution();
    }
    if (!isResolving_ || timeout <= std::chrono::milliseconds::zero()) {
        co_return;
    }
    // Resumed by the end of resolution or by the deadline, whichever comes first.
    struct ResolutionOrDeadline {
        VaultStorage* storage;
        std::chrono::milliseconds timeout;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { storage->addWaiter(handle, timeout); }
        void await_resume() const noexcept {}
    };
    co_await ResolutionOrDeadline{this, timeout};
}

void VaultStorage::startResolution() {
    resolveStarted_ = true;
    isResolving_ = true;

    QPromise<Container> promise;
    auto* watcher = new QFutureWatcher<Container>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        const QFuture<Container> future = watcher->future();
        watcher->deleteLater();
        finishResolution(future.resultCount() > 0 ? future.result() : std::nullopt);
    });
    watcher->setFuture(promise.future());

    // A thread of its own rather than the worker pool: a lookup that hangs must neither hold
    // a pool thread nor keep the application from quitting.
    try {
        std::thread([drive = cloudDrive_, shared = sharedDirectory_,
                     promise = std::move(promise)]() mutable {
            promise.start();
            try {
                promise.addResult(lookUpContainer(drive.get(), shared));
            } catch (const std::bad_alloc&) {
                // no answer: the promise finishes without a result, read as no container
            }
            promise.finish();
        }).detach();
    } catch (const std::system_error&) {
        // No thread: the dropped promise finishes the future without a result.
    }
}

void VaultStorage::finishResolution(std::optional<fs::path> container) {
    if (container) {
        iCloudDocuments_ = *container / kDocumentsFolder;
        startMonitoring();
    }
    isResolving_ = false;
    if (onConnected) {
        onConnected();
    }
    for (const Waiter& waiter : std::exchange(waiters_, {})) {
        waiter.handle.resume();
    }
}

void VaultStorage::addWaiter(std::coroutine_handle<> handle, std::chrono::milliseconds timeout) {
    const std::uint64_t id = ++nextWaiterId_;
    waiters_.push_back({id, handle});
    const auto delay = std::min<std::chrono::milliseconds>(
        timeout, std::chrono::milliseconds(std::numeric_limits<int>::max()));
    QTimer::singleShot(delay, this, [this, id] { resumeWaiter(id); });
}

void VaultStorage::resumeWaiter(std::uint64_t id) {
    const auto it = std::find_if(waiters_.begin(), waiters_.end(),
                                 [id](const Waiter& waiter) { return waiter.id == id; });
    if (it == waiters_.end()) {
        return; // resolution finished first
    }
    const std::coroutine_handle<> handle = it->handle;
    waiters_.erase(it);
    handle.resume();
}

bool VaultStorage::vaultExistsInCloud() const {
    const std::optional<fs::path> vault = cloudVaultURL();
    std::error_code error;
    return vault && fs::is_regular_file(*vault, error);
}

void VaultStorage::startMonitoring() {
    if (!iCloudDocuments_ || watcher_) {
        return;
    }
    watcher_ = new QFileSystemWatcher(this);
    // The folder shows files being replaced, added or removed; the file shows writes in place.
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &VaultStorage::remoteChanged);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &VaultStorage::remoteChanged);
    watcher_->addPath(qtPath(*iCloudDocuments_));
    watchVaultFile();
}

void VaultStorage::watchVaultFile() {
    const fs::path vault = *cloudVaultURL();
    const QString path = qtPath(vault);
    std::error_code error;
    if (!watcher_->files().contains(path) && fs::is_regular_file(vault, error)) {
        watcher_->addPath(path);
    }
}

void VaultStorage::remoteChanged() {
    // A replaced file drops its watch; the new one is watched from here on.
    watchVaultFile();
    if (onRemoteChange) {
        onRemoteChange();
    }
}

QCoro::Task<RemoteRead> VaultStorage::readRemote() {
    if (!iCloudDocuments_) {
        throw VaultError(VaultError::iCloudUnavailable);
    }
    const QFuture<RemoteReadOutcome> job = readRemoteInBackground(*iCloudDocuments_);
    RemoteReadOutcome outcome = co_await job;
    if (outcome.error) {
        throw std::system_error(outcome.error);
    }
    co_return std::move(outcome.read);
}

QCoro::Task<> VaultStorage::writeRemote(Bytes bytes, std::vector<ConflictVersion> conflicts) {
    if (!iCloudDocuments_) {
        throw VaultError(VaultError::iCloudUnavailable);
    }
    const QFuture<std::error_code> job =
        writeRemoteInBackground(*cloudVaultURL(), std::move(bytes), std::move(conflicts));
    const std::error_code error = co_await job;
    if (error) {
        throw std::system_error(error);
    }
}

QCoro::Task<> VaultStorage::writeHistoryVersion(Bytes bytes, std::string deviceName, Date now) {
    const QFuture<void> job = writeHistoryInBackground(
        historyDirectory(), historyFileName(now, deviceName), std::move(bytes), now, timeZone_);
    co_await job;
}

QCoro::Task<std::vector<Snapshot>> VaultStorage::listSnapshots() {
    const QFuture<std::vector<Snapshot>> job = listHistoryInBackground(historyDirectory());
    co_return co_await job;
}

QCoro::Task<> VaultStorage::pruneHistory(Date now) {
    const QFuture<void> job = pruneHistoryInBackground(historyDirectory(), now, timeZone_);
    co_await job;
}

QCoro::Task<Bytes> VaultStorage::readSnapshot(fs::path url) {
    const QFuture<BytesOutcome> job = readSnapshotInBackground(std::move(url));
    BytesOutcome outcome = co_await job;
    if (outcome.error) {
        throw std::system_error(outcome.error);
    }
    co_return std::move(outcome.bytes);
}

} // namespace tallowin
