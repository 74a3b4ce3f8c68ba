// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one request handler behind both browser companions. The extension sends a small
// JSON object ("accounts" or "remember"); the handler answers with a JSON object and
// never fails: every problem becomes one of four error replies.

#include "core/Clock.h"
#include "core/VaultJSON.h"

#include <filesystem>
#include <string_view>

namespace tallowin {

class Biometrics;
class KeychainItems;
class SharedDefaults;

/// What the handler reads: the application's shared directory (local vault copy,
/// learned sites, icon cache), the shared settings, the keychain and the biometric check.
struct ExtensionEnvironment {
    std::filesystem::path sharedDirectory;
    const SharedDefaults* defaults = nullptr;
    KeychainItems* keychain = nullptr;
    Biometrics* biometrics = nullptr;
    const Clock* clock = nullptr;
};

inline constexpr std::string_view kShowServiceIconsKey = "showServiceIcons";
inline constexpr std::string_view kIconsFolderName = "Icons";
/// Icon files larger than this are not sent.
inline constexpr std::size_t kMaxIconBytes = 1u << 20;
/// Codes sent per account.
inline constexpr int kCodesPerAccount = 20;

/// Answers one request object. Synchronous; may block while the biometric check runs.
[[nodiscard]] Json handleExtensionMessage(const Json& request,
                                          const ExtensionEnvironment& environment);

/// The "accounts" reply for a page host (empty when the request had none).
[[nodiscard]] Json accountsReply(std::string_view host, const ExtensionEnvironment& environment);

/// {"ok": false, "error": code, "message": message}.
[[nodiscard]] Json errorReply(std::string_view code, std::string_view message);

} // namespace tallowin
