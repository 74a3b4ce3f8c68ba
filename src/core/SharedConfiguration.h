// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The configuration shared by the application and its two browser companions: the keychain
// access group, the app group, the shared directory and settings, and the device identifier.

#include "core/Environment.h"
#include "core/RandomSource.h"
#include "core/SharedDefaults.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace tallowin {

/// Keychain access group shared by the three deliverables, fixed when building
/// (TLW_KEYCHAIN_GROUP, empty by default). When empty, keychain queries carry no group.
extern const std::string_view TLWKeychainGroup;
/// App-group identifier, fixed when building (TLW_APP_GROUP, empty by default).
extern const std::string_view TLWAppGroup;

/// Settings keys owned by the vault core.
inline constexpr std::string_view kDeviceIDKey = "deviceID";
inline constexpr std::string_view kLastPasswordEntryKey = "lastPasswordEntry";

/// The per-user base folders of the XDG base-directory convention.
struct UserDirectories {
    std::filesystem::path dataHome;   ///< $XDG_DATA_HOME, else ~/.local/share
    std::filesystem::path configHome; ///< $XDG_CONFIG_HOME, else ~/.config

    /// Relative values are ignored, as the convention asks. Without HOME the home folder
    /// comes from the password database.
    [[nodiscard]] static UserDirectories from(const Environment& environment);
    /// This process's folders, worked out on first use and then kept.
    [[nodiscard]] static const UserDirectories& current();
};

/// "Tallowin" inside the data home, where the deliverables share files. Created on demand
/// (mode 0700, with missing parents); a failure to create it is ignored and the path is
/// returned all the same.
[[nodiscard]] std::filesystem::path sharedDirectory(const UserDirectories& directories);
[[nodiscard]] std::filesystem::path sharedDirectory();

/// The shared settings file: "Tallowin/settings.json" inside the config home.
[[nodiscard]] std::filesystem::path sharedDefaultsFile(const UserDirectories& directories);

/// This user's shared settings (for UserDirectories::current()).
[[nodiscard]] SharedDefaults& sharedDefaults();

/// This device's identifier, the "deviceID" setting. When none is stored (or it is not a
/// non-empty string), a new random UUID's upper-case text is stored and returned; two
/// processes asking at once still end up with one identifier.
[[nodiscard]] std::string currentDeviceID(SharedDefaults& defaults,
                                          RandomSource& random = systemRandom());
[[nodiscard]] std::string currentDeviceID();

} // namespace tallowin
