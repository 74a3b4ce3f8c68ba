// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ResultTexts.h"

#include <cmath>
#include <vector>

namespace tallowin {

namespace {

constexpr std::string_view kSeparator = " \u00B7 ";
constexpr double kRestorableSeconds = 2'592'000;
constexpr double kSecondsPerDay = 86'400;

std::string plural(long long count, std::string_view noun) {
    std::string text = std::to_string(count);
    text += ' ';
    text += noun;
    if (count != 1) {
        text += 's';
    }
    return text;
}

std::string relativeTime(double seconds) {
    if (seconds < 60) {
        return "just now";
    }
    const auto ago = [](double amount, std::string_view unit) {
        return plural(static_cast<long long>(amount), unit) + " ago";
    };
    if (seconds < 3600) {
        return ago(seconds / 60, "minute");
    }
    if (seconds < kSecondsPerDay) {
        return ago(seconds / 3600, "hour");
    }
    return ago(seconds / kSecondsPerDay, "day");
}

} // namespace

std::string addResultText(int added, int existing, int unreadable) {
    std::vector<std::string> parts;
    if (added >= 1) {
        parts.push_back("Added " + plural(added, "account"));
    }
    if (existing >= 1) {
        parts.push_back(std::to_string(existing) + " already in Tallowin");
    }
    if (unreadable >= 1) {
        parts.push_back(plural(unreadable, "link") + " couldn't be read");
    }
    if (parts.empty()) {
        return "Nothing to add.";
    }
    std::string text = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) {
        text += kSeparator;
        text += parts[i];
    }
    return text;
}

std::string restoreResultText(int restored) {
    return restored == 0 ? "Already up to date" : "Restored " + plural(restored, "account");
}

std::string exportResultText(int exported) {
    return "Exported " + std::to_string(exported) + " accounts.";
}

std::optional<std::string> remainingDaysText(const Account& account, Date now) {
    if (!account.deletedAt) {
        return std::nullopt;
    }
    const double elapsed = now.since(*account.deletedAt);
    double days = std::ceil((kRestorableSeconds - elapsed) / kSecondsPerDay);
    if (!(days >= 0)) {
        days = 0; // also a date that is not a number
    }
    days = std::min(days, 1e15); // a deletion date far in the future
    const auto count = static_cast<long long>(days);
    return plural(count, "day") + " left";
}

std::string syncStatusLine(const SyncStatus& status, std::optional<Date> lastSynced,
                           bool waitingForCloud, Date now) {
    switch (status.kind) {
    case SyncStatus::idle:
        return lastSynced ? "Synced " + relativeTime(now.since(*lastSynced)) : "Not synced yet";
    case SyncStatus::syncing:
        return "Syncing…";
    case SyncStatus::localOnly:
        return waitingForCloud ? "Waiting for iCloud Drive to respond. Your changes are saved "
                                 "here and will upload automatically."
                               : "iCloud Drive is off on this device";
    case SyncStatus::failed:
        break;
    }
    return status.message;
}

} // namespace tallowin
