// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/CloudDrive.h"

#include <condition_variable>
#include <mutex>

namespace tallowin {

/// Stand-in cloud drive for tests: answers every lookup at once, or holds every lookup until
/// the test calls `answer` (never calling it is a drive that never answers).
class ScriptedCloudDrive final : public CloudDrive {
public:
    /// A drive whose lookups wait for `answer`.
    ScriptedCloudDrive() = default;
    /// A drive that answers every lookup with `container` at once.
    explicit ScriptedCloudDrive(std::optional<std::filesystem::path> container);

    /// Releases the held lookups (and answers later ones at once) with `container`.
    void answer(std::optional<std::filesystem::path> container);
    /// How many lookups have started.
    [[nodiscard]] int lookupCount() const;

    [[nodiscard]] std::optional<std::filesystem::path> lookupContainer() override;

private:
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    bool hasAnswer_ = false;
    std::optional<std::filesystem::path> container_;
    int lookups_ = 0;
};

} // namespace tallowin
