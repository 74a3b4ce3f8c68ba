// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/SharedDefaults.h"

#include "core/FileIO.h"
#include "core/PrivateDirectory.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tallowin {

namespace {
constexpr int kMaxNesting = 64;

/// Holds an advisory lock on the settings folder for one read-modify-write. Waiting is
/// bounded: a writer that is stuck does not stop everyone else for good, it only loses the
/// protection against a lost update.
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ < 0) {
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() > deadline) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_); // closing the descriptor releases the lock
        }
    }

private:
    int fd_;
};

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
    FolderLock lock(folder);
    Json settings = readSettings(file_, error);
    if (error) {
        return error;
    }
    if (!change(settings)) {
        return {};
    }
    return writeFileAtomically(file_, toBytes(settings.dump()), kPrivateFileMode);
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
