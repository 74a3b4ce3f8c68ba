// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/SharedConfiguration.h"

#include "core/PrivateDirectory.h"
#include "core/Uuid.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

#ifndef TALLOWIN_KEYCHAIN_GROUP
#define TALLOWIN_KEYCHAIN_GROUP ""
#endif
#ifndef TALLOWIN_APP_GROUP
#define TALLOWIN_APP_GROUP ""
#endif

namespace tallowin {

const std::string_view TLWKeychainGroup = TALLOWIN_KEYCHAIN_GROUP;
const std::string_view TLWAppGroup = TALLOWIN_APP_GROUP;

namespace {
std::filesystem::path homeFolder(const Environment& environment) {
    if (auto home = environment.get("HOME")) {
        return *home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        return found->pw_dir;
    }
    return "/";
}

std::filesystem::path baseFolder(const Environment& environment, std::string_view variable,
                                 const std::filesystem::path& fallbackInHome) {
    if (auto value = environment.get(variable)) {
        std::filesystem::path path(*value);
        if (path.is_absolute()) {
            return path;
        }
    }
    return homeFolder(environment) / fallbackInHome;
}
} // namespace

UserDirectories UserDirectories::from(const Environment& environment) {
    return UserDirectories{
        .dataHome = baseFolder(environment, "XDG_DATA_HOME", ".local/share"),
        .configHome = baseFolder(environment, "XDG_CONFIG_HOME", ".config"),
    };
}

const UserDirectories& UserDirectories::current() {
    static const UserDirectories directories = from(Environment::current());
    return directories;
}

std::filesystem::path sharedDirectory(const UserDirectories& directories) {
    std::filesystem::path folder = directories.dataHome / "Tallowin";
    (void)createPrivateDirectories(folder);
    return folder;
}

std::filesystem::path sharedDirectory() {
    return sharedDirectory(UserDirectories::current());
}

std::filesystem::path sharedDefaultsFile(const UserDirectories& directories) {
    return directories.configHome / "Tallowin" / "settings.json";
}

SharedDefaults& sharedDefaults() {
    static SharedDefaults defaults(sharedDefaultsFile(UserDirectories::current()));
    return defaults;
}

std::string currentDeviceID(SharedDefaults& defaults, RandomSource& random) {
    if (auto stored = defaults.string(kDeviceIDKey); stored && !stored->empty()) {
        return *stored;
    }
    std::string id;
    // Checked again under the settings lock: another process may have created it meanwhile.
    (void)defaults.update([&](Json& settings) {
        const auto it = settings.find(kDeviceIDKey);
        if (it != settings.end() && it->is_string() && !it->get_ref<const std::string&>().empty()) {
            id = it->get<std::string>();
            return false;
        }
        id = Uuid::random(random).toString();
        settings[std::string(kDeviceIDKey)] = id;
        return true;
    });
    if (id.empty()) {
        id = Uuid::random(random).toString(); // the settings could not even be read
    }
    return id;
}

std::string currentDeviceID() {
    return currentDeviceID(sharedDefaults());
}

} // namespace tallowin
