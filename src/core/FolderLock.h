// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>

namespace tallowin {

/// An advisory lock (flock) on a folder, held from construction to destruction, that makes
/// read-modify-write sequences of several processes on the files inside it take turns.
/// Waiting is bounded: a holder that is stuck does not stop everyone else for good, the
/// waiter then goes on without the lock and only loses the protection against a lost
/// update. The lock also ends when its holder dies.
class FolderLock {
public:
    FolderLock(const std::filesystem::path& folder, std::chrono::milliseconds maximumWait);
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock();

    /// Whether the lock was obtained.
    [[nodiscard]] bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

} // namespace tallowin
