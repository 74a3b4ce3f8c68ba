// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The vault store's background work: key derivation, the biometric keychain read and the
// local vault copy. Each job is started by a plain function and awaited as a QFuture by the
// store's coroutines (so no lambda lives inside a co_await expression). Jobs never throw:
// a failure comes back in the outcome.

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/FolderLock.h"
#include "core/RandomSource.h"
#include "core/VaultEnvelope.h"
#include "core/VaultError.h"
#include "core/VaultKey.h"

#include <QFuture>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace tallowin {

class DeviceKeyStore;

/// The user-facing text of an error (see errorText), for any exception.
[[nodiscard]] std::string errorMessageOf(const std::exception_ptr& error);

/// Whether `error` is the VaultError `code`.
[[nodiscard]] bool isVaultError(const std::exception_ptr& error, VaultError::Code code);

/// What a background job gave: a value, or the error it failed with.
template <typename T> struct JobOutcome {
    std::optional<T> value;
    std::exception_ptr error;
};

/// A new vault header for `key`, wrapped under `password` (slow).
[[nodiscard]] QFuture<JobOutcome<VaultEnvelope>>
makeHeaderInBackground(std::string password, VaultKey key, std::string writer, Date now,
                       RandomSource& random, std::int64_t iterations);

/// The data key of `envelope`, unwrapped with `password` (slow).
[[nodiscard]] QFuture<JobOutcome<VaultKey>> unwrapKeyInBackground(VaultEnvelope envelope,
                                                                  std::string password);

/// Checks `current` against `header`, then wraps `key` under `newPassword` (slow).
[[nodiscard]] QFuture<JobOutcome<VaultEnvelope>>
rewrapKeyInBackground(VaultEnvelope header, std::string current, std::string newPassword,
                      VaultKey key, std::string writer, Date now, RandomSource& random,
                      std::int64_t iterations);

/// The device key, released by the biometric check (waits for the user).
[[nodiscard]] QFuture<JobOutcome<VaultKey>> loadDeviceKeyInBackground(DeviceKeyStore& store,
                                                                      std::string reason);

struct FileBytes {
    std::error_code error;
    Bytes bytes;
};

/// The whole file (at most kMaxVaultFileBytes).
[[nodiscard]] QFuture<FileBytes> readVaultFileInBackground(std::filesystem::path path);

/// Replaces the file atomically with mode 0600.
[[nodiscard]] QFuture<std::error_code> writeVaultFileInBackground(std::filesystem::path path,
                                                                  Bytes bytes);

/// An advisory lock on `folder` (made when missing), taken once other holders let go or
/// after `maximumWait` without it (see FolderLock).
[[nodiscard]] QFuture<std::shared_ptr<FolderLock>>
lockFolderInBackground(std::filesystem::path folder, std::chrono::milliseconds maximumWait);

} // namespace tallowin
