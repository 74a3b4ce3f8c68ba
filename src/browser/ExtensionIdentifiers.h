// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The names by which the browsers and the companion extensions know each other.

#include <string_view>

namespace tallowin {

/// Name of the native-messaging host, as extensions ask for it.
inline constexpr std::string_view kNativeMessagingHostName = "com.tallowin.native";

/// The companion extension's Chromium identifier (32 letters a-p).
inline constexpr std::string_view kChromiumExtensionID = "apfcbjlfhjdphcplnbeidnpnoheloeik";

/// The companion add-on's Firefox identifier.
inline constexpr std::string_view kFirefoxExtensionID = "tallowin@tallowin.app";

} // namespace tallowin
