// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ScriptedCloudDrive.h"

namespace tallowin {

ScriptedCloudDrive::ScriptedCloudDrive(std::optional<std::filesystem::path> container)
    : hasAnswer_(true), container_(std::move(container)) {}

void ScriptedCloudDrive::answer(std::optional<std::filesystem::path> container) {
    {
        const std::lock_guard lock(mutex_);
        hasAnswer_ = true;
        container_ = std::move(container);
    }
    answered_.notify_all();
}

int ScriptedCloudDrive::lookupCount() const {
    const std::lock_guard lock(mutex_);
    return lookups_;
}

std::optional<std::filesystem::path> ScriptedCloudDrive::lookupContainer() {
    std::unique_lock lock(mutex_);
    ++lookups_;
    answered_.wait(lock, [this] { return hasAnswer_; });
    return container_;
}

} // namespace tallowin
