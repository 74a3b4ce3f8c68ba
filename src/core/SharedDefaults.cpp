// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/SharedDefaults.h"

#include "core/FileIO.h"
#include "core/FolderLock.h"
#include "core/PrivateDirectory.h"

#include <chrono>
#include <cmath>

namespace tallowin {

namespace {
constexpr int kMaxNesting = 64;

/// Reads the settings file. A missing file is an empty object; `error` is set only when a
/// file is there but could not be read.
Json readSettings(const std::filesystem::path& file, std::error_code& error) {
    error.clear();
    Bytes bytes;
    const auto readError = readFile(file, bytes, kMaxSharedDefaultsBytes);
    if (readError == std::errc::no_such_file_or_directory) {
        return Json::object();
    }
    if (readError && readError != std::errc::file_too_large) {
        error = readError;
        return Json::object();
    }
    return parseSharedDefaults(
        readError ? std::string_view()
                  : std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
} // namespace

Json parseSharedDefaults(std::string_view text) {
    if (text.size() > kMaxSharedDefaultsBytes) {
        return Json::object();
    }
    bool tooDeep = false;
    // The parser itself is iterative; the depth bound keeps the later (recursive) writing of
    // the kept members safe.
    Json value = Json::parse(
        text,
        [&tooDeep](int depth, Json::parse_event_t, Json&) {
            if (depth > kMaxNesting) {
                tooDeep = true;
                return false;
            }
            return true;
        },
        false);
    if (tooDeep || value.is_discarded() || !value.is_object()) {
        return Json::object();
    }
    return value;
}

std::optional<Date> dateFromSetting(const Json& value) {
    if (!value.is_number()) {
        return std::nullopt;
    }
    const double seconds = value.get<double>();
    if (!std::isfinite(seconds)) {
        return std::nullopt;
    }
    return Date{seconds};
}

Json SharedDefaults::load() const {
    std::error_code ignored;
    return readSettings(file_, ignored);
}

std::optional<Json> SharedDefaults::value(std::string_view key) const {
    Json settings = load();
    const auto it = settings.find(key);
    if (it == settings.end() || it->is_null()) {
        return std::nullopt;
    }
    return std::move(*it);
}

std::optional<std::string> SharedDefaults::string(std::string_view key) const {
    auto member = value(key);
    if (!member || !member->is_string()) {
        return std::nullopt;
    }
    return member->get<std::string>();
}

std::optional<bool> SharedDefaults::boolean(std::string_view key) const {
    const auto member = value(key);
    if (!member || !member->is_boolean()) {
        return std::nullopt;
    }
    return member->get<bool>();
}

std::optional<Date> SharedDefaults::date(std::string_view key) const {
    const auto member = value(key);
    return member ? dateFromSetting(*member) : std::nullopt;
}

std::error_code SharedDefaults::update(const std::function<bool(Json& settings)>& change) {
    const std::filesystem::path folder = file_.has_parent_path() ? file_.parent_path() : ".";
    std::error_code error = createPrivateDirectories(folder);
    if (error) {
        return error;
    }
    const FolderLock lock(folder, std::chrono::seconds(2));
    Json settings = readSettings(file_, error);
    if (error) {
        return error;
    }
    if (!change(settings)) {
        return {};
    }
    std::string text;
    try {
        text = settings.dump();
    } catch (const Json::type_error&) {
        // A value that is not UTF-8 (a folder name in another encoding, say) is refused
        // rather than stored altered.
        return std::make_error_code(std::errc::illegal_byte_sequence);
    }
    return writeFileAtomically(file_, toBytes(text), kPrivateFileMode);
}

std::error_code SharedDefaults::set(std::string_view key, Json value) {
    return update([&](Json& settings) {
        settings[std::string(key)] = std::move(value);
        return true;
    });
}

std::error_code SharedDefaults::setString(std::string_view key, std::string_view value) {
    return set(key, Json(std::string(value)));
}

std::error_code SharedDefaults::setBoolean(std::string_view key, bool value) {
    return set(key, Json(value));
}

std::error_code SharedDefaults::setDate(std::string_view key, Date value) {
    return set(key, dateToJSON(value));
}

std::error_code SharedDefaults::remove(std::string_view key) {
    return update([&](Json& settings) { return settings.erase(std::string(key)) > 0; });
}

} // namespace tallowin
