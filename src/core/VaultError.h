// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>
#include <string_view>

namespace tallowin {

/// The error of every vault operation, each case with its fixed user-facing message.
class VaultError : public std::exception {
public:
    enum Code {
        wrongPassword,
        corrupted,
        unsupportedFormat,
        foreignVault,
        keyUnavailable,
        iCloudUnavailable,
    };

    explicit VaultError(Code code) noexcept : code_(code) {}
    [[nodiscard]] Code code() const noexcept { return code_; }
    [[nodiscard]] const char* what() const noexcept override { return message(code_).data(); }

    [[nodiscard]] static constexpr std::string_view message(Code code) noexcept {
        switch (code) {
        case wrongPassword:
            return "Incorrect password. Please try again.";
        case corrupted:
            return "The vault file is damaged or was modified.";
        case unsupportedFormat:
            return "This file was made by a newer version of Tallowin.";
        case foreignVault:
            return "The vault in iCloud uses a different key than this device. Nothing was "
                   "overwritten. Unlock with that vault's master password.";
        case keyUnavailable:
            return "The vault key isn't available on this device. Unlock with your master "
                   "password.";
        case iCloudUnavailable:
            break;
        }
        return "iCloud Drive isn't available. Sign in to iCloud and turn on iCloud Drive.";
    }

    friend bool operator==(const VaultError& a, const VaultError& b) { return a.code_ == b.code_; }

private:
    Code code_;
};

} // namespace tallowin
