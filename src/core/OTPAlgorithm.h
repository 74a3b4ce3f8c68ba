// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

namespace tallowin {

/// The HMAC hash used for codes. Its raw value is also its JSON form.
enum class OTPAlgorithm { sha1, sha256, sha512 };

[[nodiscard]] constexpr std::string_view rawValue(OTPAlgorithm algorithm) {
    switch (algorithm) {
    case OTPAlgorithm::sha256:
        return "SHA256";
    case OTPAlgorithm::sha512:
        return "SHA512";
    case OTPAlgorithm::sha1:
        break;
    }
    return "SHA1";
}

/// Exactly "SHA1", "SHA256" or "SHA512" (upper case); anything else gives nothing.
[[nodiscard]] constexpr std::optional<OTPAlgorithm> otpAlgorithmFromRaw(std::string_view raw) {
    if (raw == "SHA1") {
        return OTPAlgorithm::sha1;
    }
    if (raw == "SHA256") {
        return OTPAlgorithm::sha256;
    }
    if (raw == "SHA512") {
        return OTPAlgorithm::sha512;
    }
    return std::nullopt;
}

} // namespace tallowin
