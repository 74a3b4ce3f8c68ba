// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Date.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tallowin {

/// One history version of the vault.
struct Snapshot {
    std::filesystem::path url; ///< the history file (never a not-yet-downloaded placeholder)
    Date date;                 ///< the save time from the file name, whole seconds
    std::string device;        ///< the device part of the file name; empty when there is none

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

/// The save time as "yyyyMMdd'T'HHmmss'Z'" in UTC (16 characters, e.g. 20260305T141503Z).
/// Fractions of a second are dropped.
[[nodiscard]] std::string historyStamp(Date date);

/// Parses a 16-character history stamp; none unless it is exactly that shape and a real
/// UTC calendar time.
[[nodiscard]] std::optional<Date> parseHistoryStamp(std::string_view stamp);

/// "vault-" + stamp + "-" + device (every '/' turned into '-') + ".tlwvault". A device name
/// too long for a file name is cut at a character boundary so the name stays within 255 bytes.
[[nodiscard]] std::string historyFileName(Date date, std::string_view deviceName);

/// Reads a history entry: the cloud drive's placeholder name ".<name>.icloud" stands for
/// <name>; the name must be "vault-" + stamp + ["-" + device] + ".tlwvault". Anything else
/// gives none. The snapshot's url is the entry's folder + the real name.
[[nodiscard]] std::optional<Snapshot> parseSnapshotName(const std::filesystem::path& entry);

} // namespace tallowin
