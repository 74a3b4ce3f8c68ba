// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/ManifestInstaller.h"

#include "browser/ExtensionIdentifiers.h"
#include "core/FileIO.h"
#include "core/VaultJSON.h"

#include <array>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace tallowin {

namespace {

namespace fs = std::filesystem;

/// Per-user folders of the Chromium-family browsers, relative to the home folder.
constexpr std::array<std::string_view, 6> kChromiumBrowserFolders{
    ".config/google-chrome",  ".config/google-chrome-beta",
    ".config/chromium",       ".config/BraveSoftware/Brave-Browser",
    ".config/microsoft-edge", ".config/vivaldi",
};

constexpr std::string_view kFirefoxFolder = ".mozilla";
constexpr std::string_view kFirefoxHostsFolder = "native-messaging-hosts";
constexpr std::string_view kChromiumHostsFolder = "NativeMessagingHosts";
constexpr mode_t kManifestFileMode = 0644;

Json baseManifest(const fs::path& hostExecutable) {
    return Json{
        {"name", kNativeMessagingHostName},
        {"description", "Tallowin"},
        {"path", hostExecutable.string()},
        {"type", "stdio"},
    };
}

std::string pretty(const Json& manifest) {
    return manifest.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool isExecutableFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

bool isDirectory(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

void writeManifest(const fs::path& folder, const std::string& text) {
    std::error_code error;
    fs::create_directories(folder, error);
    const fs::path path = folder / kManifestFileName;
    Bytes existing;
    if (!readFile(path, existing, 1u << 16) && toString(existing) == text) {
        return; // already in place
    }
    (void)writeFileAtomically(path, toBytes(text), kManifestFileMode);
}

} // namespace

void installNativeMessagingManifests(const fs::path& home, const fs::path& hostExecutable) {
    if (home.empty() || !isExecutableFile(hostExecutable)) {
        return;
    }
    std::error_code error;
    const fs::path executable = fs::absolute(hostExecutable, error).lexically_normal();
    if (error) {
        return;
    }

    Json chromium = baseManifest(executable);
    chromium["allowed_origins"] =
        Json::array({"chrome-extension://" + std::string(kChromiumExtensionID) + "/"});
    const std::string chromiumText = pretty(chromium);
    for (const auto folder : kChromiumBrowserFolders) {
        const fs::path browser = home / folder;
        if (isDirectory(browser)) {
            writeManifest(browser / kChromiumHostsFolder, chromiumText);
        }
    }

    if (const fs::path mozilla = home / kFirefoxFolder; isDirectory(mozilla)) {
        Json firefox = baseManifest(executable);
        firefox["allowed_extensions"] = Json::array({kFirefoxExtensionID});
        writeManifest(mozilla / kFirefoxHostsFolder, pretty(firefox));
    }
}

void installNativeMessagingManifests() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
        return;
    }
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        return;
    }
    installNativeMessagingManifests(found->pw_dir, self.parent_path() / kHostExecutableName);
}

} // namespace tallowin
