// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes the native-messaging host known to the browsers installed for the user by
// writing a manifest into each browser's per-user folder. Best effort: nothing here
// reports an error.

#include <filesystem>
#include <string_view>

namespace tallowin {

/// File name of the manifest in every browser folder.
inline constexpr std::string_view kManifestFileName = "com.tallowin.native.json";
/// File name of the host program, installed beside the application's executable.
inline constexpr std::string_view kHostExecutableName = "TallowinChromeHost";

/// Writes the manifest pointing at `hostExecutable` (pretty-printed, keys sorted, mode
/// 0644, atomically) to "NativeMessagingHosts" of every Chromium-family browser folder
/// that exists under home/.config (google-chrome, google-chrome-beta, chromium,
/// BraveSoftware/Brave-Browser, microsoft-edge, vivaldi), and to
/// home/.mozilla/native-messaging-hosts when home/.mozilla exists. Browsers that aren't
/// installed get nothing; nothing at all is written when `hostExecutable` is not an
/// executable file. Failures are ignored.
void installNativeMessagingManifests(const std::filesystem::path& home,
                                     const std::filesystem::path& hostExecutable);

/// The same for the current user's home folder as the user database records it, with
/// the host program beside the running executable.
void installNativeMessagingManifests();

} // namespace tallowin
