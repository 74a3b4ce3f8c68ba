// SPDX-License-Identifier: GPL-3.0-or-later
#include "TemporaryFolder.h"
#include "browser/ManifestInstaller.h"
#include "core/FileIO.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tallowin {
namespace {

namespace fs = std::filesystem;

class ManifestInstallerTest : public TemporaryFolderTest {
protected:
    void SetUp() override {
        TemporaryFolderTest::SetUp();
        home_ = dir_ / "home";
        host_ = dir_ / "app" / "TallowinChromeHost";
        fs::create_directories(home_);
        fs::create_directories(host_.parent_path());
        ASSERT_FALSE(writeFileAtomically(host_, toBytes("#!/bin/sh\n"), 0755));
    }

    std::string read(const fs::path& path) const {
        Bytes bytes;
        EXPECT_FALSE(readFile(path, bytes, 1u << 16)) << path;
        return toString(bytes);
    }

    std::vector<fs::path> manifests() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(home_)) {
            if (entry.is_regular_file()) {
                found.push_back(fs::relative(entry.path(), home_));
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    fs::path home_;
    fs::path host_;
};

TEST_F(ManifestInstallerTest, WritesOnlyIntoInstalledBrowsersAndIsStable) {
    fs::create_directories(home_ / ".config/chromium");
    fs::create_directories(home_ / ".config/vivaldi");
    fs::create_directories(home_ / ".config/BraveSoftware"); // Brave's parent only

    installNativeMessagingManifests(home_, host_);
    const std::vector<fs::path> expected{
        ".config/chromium/NativeMessagingHosts/com.tallowin.native.json",
        ".config/vivaldi/NativeMessagingHosts/com.tallowin.native.json",
    };
    ASSERT_EQ(manifests(), expected);

    const std::string text = read(home_ / expected[0]);
    EXPECT_EQ(text, "{\n"
                    "  \"allowed_origins\": [\n"
                    "    \"chrome-extension://apfcbjlfhjdphcplnbeidnpnoheloeik/\"\n"
                    "  ],\n"
                    "  \"description\": \"Tallowin\",\n"
                    "  \"name\": \"com.tallowin.native\",\n"
                    "  \"path\": \"" +
                        host_.string() +
                        "\",\n"
                        "  \"type\": \"stdio\"\n"
                        "}\n");
    EXPECT_EQ(read(home_ / expected[1]), text);
    struct stat info {};
    ASSERT_EQ(::stat((home_ / expected[0]).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    installNativeMessagingManifests(home_, host_);
    EXPECT_EQ(manifests(), expected);
    EXPECT_EQ(read(home_ / expected[0]), text);
    EXPECT_EQ(read(home_ / expected[1]), text);
}

TEST_F(ManifestInstallerTest, ReplacesAManifestThatPointsElsewhere) {
    const fs::path manifest =
        home_ / ".config/google-chrome/NativeMessagingHosts" / kManifestFileName;
    fs::create_directories(manifest.parent_path());
    ASSERT_FALSE(writeFileAtomically(manifest, toBytes(R"({"path": "/old/place"})"), 0644));
    installNativeMessagingManifests(home_, host_);
    EXPECT_NE(read(manifest).find(host_.string()), std::string::npos);
}

TEST_F(ManifestInstallerTest, FirefoxGetsItsOwnVariant) {
    fs::create_directories(home_ / ".mozilla");
    installNativeMessagingManifests(home_, host_);
    ASSERT_EQ(manifests(),
              std::vector<fs::path>{".mozilla/native-messaging-hosts/com.tallowin.native.json"});
    EXPECT_EQ(read(home_ / ".mozilla/native-messaging-hosts/com.tallowin.native.json"),
              "{\n"
              "  \"allowed_extensions\": [\n"
              "    \"tallowin@tallowin.app\"\n"
              "  ],\n"
              "  \"description\": \"Tallowin\",\n"
              "  \"name\": \"com.tallowin.native\",\n"
              "  \"path\": \"" +
                  host_.string() +
                  "\",\n"
                  "  \"type\": \"stdio\"\n"
                  "}\n");
}

TEST_F(ManifestInstallerTest, WritesNothingWithoutAnExecutableHost) {
    fs::create_directories(home_ / ".config/google-chrome");
    fs::create_directories(home_ / ".mozilla");
    installNativeMessagingManifests(home_, dir_ / "app" / "missing");
    fs::permissions(host_, fs::perms::owner_read | fs::perms::owner_write);
    installNativeMessagingManifests(home_, host_);
    EXPECT_TRUE(manifests().empty());
}

TEST_F(ManifestInstallerTest, FailuresInOneBrowserDoNotStopTheOthers) {
    // A file where the hosts folder should be: that browser is skipped silently.
    fs::create_directories(home_ / ".config/google-chrome");
    ASSERT_FALSE(
        writeFileAtomically(home_ / ".config/google-chrome/NativeMessagingHosts", toBytes("x")));
    fs::create_directories(home_ / ".config/microsoft-edge");
    installNativeMessagingManifests(home_, host_);
    EXPECT_EQ(manifests(),
              (std::vector<fs::path>{
                  ".config/google-chrome/NativeMessagingHosts",
                  ".config/microsoft-edge/NativeMessagingHosts/com.tallowin.native.json"}));
}

} // namespace
} // namespace tallowin
