// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Date.h"
#include "core/VaultJSON.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace tallowin {

/// Settings files larger than this are not read.
inline constexpr std::size_t kMaxSharedDefaultsBytes = 1u << 20;

/// The settings shared by the application and its browser companions: one flat JSON object
/// in one file, a member per setting ("deviceID", "lastPasswordEntry", "showServiceIcons", ...).
///
/// Every read goes to the file, so what another process wrote is seen at once. Every write
/// replaces the file atomically with mode 0600 (creating its folder with mode 0700) and keeps
/// the members it does not know. A member of the wrong JSON type reads as absent; dates are
/// numbers of seconds since 2001-01-01T00:00:00Z like every stored date.
class SharedDefaults {
public:
    explicit SharedDefaults(std::filesystem::path file) : file_(std::move(file)) {}

    [[nodiscard]] const std::filesystem::path& file() const { return file_; }

    /// The whole settings object; an empty object when the file is missing or unreadable.
    [[nodiscard]] Json load() const;

    [[nodiscard]] std::optional<Json> value(std::string_view key) const;
    [[nodiscard]] std::optional<std::string> string(std::string_view key) const;
    [[nodiscard]] std::optional<bool> boolean(std::string_view key) const;
    [[nodiscard]] std::optional<Date> date(std::string_view key) const;

    // Writes are best effort: they give the error of the write, which callers may ignore.
    std::error_code set(std::string_view key, Json value);
    std::error_code setString(std::string_view key, std::string_view value);
    std::error_code setBoolean(std::string_view key, bool value);
    std::error_code setDate(std::string_view key, Date value);
    std::error_code remove(std::string_view key);

    /// Reads the settings, lets `change` edit them and writes them back when it returns true.
    /// Other writers of the same file (threads or processes going through this class) wait
    /// meanwhile, so read-modify-write sequences such as creating "deviceID" happen once.
    /// A file that exists but cannot be read (permissions, I/O) is left alone and its error
    /// returned; a file that does not parse is replaced.
    std::error_code update(const std::function<bool(Json& settings)>& change);

private:
    std::filesystem::path file_;
};

/// Settings text to a settings object: a JSON object of at most kMaxSharedDefaultsBytes,
/// nested at most 64 levels deep. Anything else gives an empty object; never throws.
[[nodiscard]] Json parseSharedDefaults(std::string_view text);

/// A settings member as a date: a finite JSON number, else nothing.
[[nodiscard]] std::optional<Date> dateFromSetting(const Json& value);

} // namespace tallowin
