// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/VaultStoreJobs.h"

#include "core/DeviceKeyStore.h"
#include "core/FileIO.h"
#include "core/PrivateDirectory.h"
#include "vault/VaultStore.h"

#include <QtConcurrent/qtconcurrenttask.h>
#include <new>
#include <openssl/crypto.h>

namespace tallowin {

namespace {
// Password work and vault reads go before anything else in the worker pool's queue.
constexpr int kUserInitiatedPriority = 1;

template <typename Job> auto runInBackground(Job job) {
    return QtConcurrent::task(std::move(job)).withPriority(kUserInitiatedPriority).spawn();
}

/// A password copy that is wiped when the job is done with it.
class WipedString {
public:
    explicit WipedString(std::string text) : text_(std::move(text)) {}
    WipedString(const WipedString& other) = default;
    WipedString(WipedString&& other) noexcept : text_(std::move(other.text_)) { other.wipe(); }
    WipedString& operator=(const WipedString&) = delete;
    WipedString& operator=(WipedString&&) = delete;
    ~WipedString() { wipe(); }

    [[nodiscard]] std::string_view view() const { return text_; }

private:
    void wipe() {
        if (!text_.empty()) {
            OPENSSL_cleanse(text_.data(), text_.size());
        }
        text_.clear();
    }
    std::string text_;
};

template <typename T, typename Work> JobOutcome<T> capture(Work&& work) {
    JobOutcome<T> outcome;
    try {
        outcome.value.emplace(work());
    } catch (...) {
        outcome.error = std::current_exception();
    }
    return outcome;
}
} // namespace

std::string errorMessageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return errorText(exception);
    } catch (...) {
        return "The operation couldn't be completed.";
    }
}

bool isVaultError(const std::exception_ptr& error, VaultError::Code code) {
    try {
        std::rethrow_exception(error);
    } catch (const VaultError& vaultError) {
        return vaultError.code() == code;
    } catch (...) {
        return false;
    }
}

QFuture<JobOutcome<VaultEnvelope>> makeHeaderInBackground(std::string password, VaultKey key,
                                                          std::string writer, Date now,
                                                          RandomSource& random,
                                                          std::int64_t iterations) {
    return runInBackground([password = WipedString(std::move(password)), key = std::move(key),
                            writer = std::move(writer), now, &random, iterations] {
        return capture<VaultEnvelope>([&] {
            return makeEnvelopeHeader(kVaultFormat, password.view(), key, writer, now, random,
                                      iterations);
        });
    });
}

QFuture<JobOutcome<VaultKey>> unwrapKeyInBackground(VaultEnvelope envelope, std::string password) {
    return runInBackground(
        [envelope = std::move(envelope), password = WipedString(std::move(password))] {
            return capture<VaultKey>([&] { return unwrapVaultKey(envelope, password.view()); });
        });
}

QFuture<JobOutcome<VaultEnvelope>> rewrapKeyInBackground(VaultEnvelope header, std::string current,
                                                         std::string newPassword, VaultKey key,
                                                         std::string writer, Date now,
                                                         RandomSource& random,
                                                         std::int64_t iterations) {
    return runInBackground([header = std::move(header), current = WipedString(std::move(current)),
                            newPassword = WipedString(std::move(newPassword)), key = std::move(key),
                            writer = std::move(writer), now, &random, iterations] {
        return capture<VaultEnvelope>([&] {
            // Only the check matters; the unwrapped key is the one already held.
            (void)unwrapVaultKey(header, current.view());
            return makeEnvelopeHeader(kVaultFormat, newPassword.view(), key, writer, now, random,
                                      iterations);
        });
    });
}

QFuture<JobOutcome<VaultKey>> loadDeviceKeyInBackground(DeviceKeyStore& store, std::string reason) {
    return runInBackground([&store, reason = std::move(reason)] {
        return capture<VaultKey>([&] { return store.load(reason); });
    });
}

QFuture<FileBytes> readVaultFileInBackground(std::filesystem::path path) {
    return runInBackground([path = std::move(path)] {
        FileBytes outcome;
        try {
            outcome.error = readFile(path, outcome.bytes, kMaxVaultFileBytes);
        } catch (const std::bad_alloc&) {
            outcome = {std::make_error_code(std::errc::not_enough_memory), {}};
        }
        return outcome;
    });
}

QFuture<std::error_code> writeVaultFileInBackground(std::filesystem::path path, Bytes bytes) {
    return runInBackground([path = std::move(path), bytes = std::move(bytes)] {
        try {
            // The shared directory is made on demand, readable by its owner only.
            (void)createPrivateDirectories(path.parent_path());
            return writeFileAtomically(path, bytes, kPrivateFileMode);
        } catch (const std::bad_alloc&) {
            return std::make_error_code(std::errc::not_enough_memory);
        }
    });
}

QFuture<std::shared_ptr<FolderLock>> lockFolderInBackground(std::filesystem::path folder,
                                                            std::chrono::milliseconds maximumWait) {
    return runInBackground([folder = std::move(folder), maximumWait] {
        (void)createPrivateDirectories(folder);
        return std::make_shared<FolderLock>(folder, maximumWait);
    });
}

} // namespace tallowin
