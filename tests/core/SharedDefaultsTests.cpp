// SPDX-License-Identifier: GPL-3.0-or-later
#include "TempDirectory.h"
#include "core/FileIO.h"
#include "core/SharedConfiguration.h"
#include "core/Uuid.h"

#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace tallowin {
namespace {

using testsupport::TempDirectory;

std::string readText(const std::filesystem::path& file) {
    Bytes bytes;
    EXPECT_FALSE(readFile(file, bytes, 1 << 20));
    return toString(bytes);
}

void writeText(const std::filesystem::path& file, std::string_view text) {
    std::filesystem::create_directories(file.parent_path());
    ASSERT_FALSE(writeFileAtomically(file, toBytes(text)));
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 0777;
}

class SharedDefaultsTest : public testing::Test {
protected:
    TempDirectory temp_;
    std::filesystem::path file_ = temp_ / "config" / "Tallowin" / "settings.json";
    SharedDefaults defaults_{file_};
};

TEST_F(SharedDefaultsTest, WritesAFlatObjectPrivatelyAndKeepsMembersItDoesNotKnow) {
    writeText(file_, R"({"cloudFolder":"/media/sync","future":{"nested":[1,2]}})");
    ASSERT_FALSE(defaults_.setDate("lastPasswordEntry", Date{789000000.25}));
    ASSERT_FALSE(defaults_.setBoolean("showServiceIcons", false));
    ASSERT_FALSE(defaults_.setString("deviceID", "ABC"));

    EXPECT_EQ(parseVaultJSON(readText(file_)),
              parseVaultJSON(R"({"cloudFolder":"/media/sync","deviceID":"ABC",)"
                             R"("future":{"nested":[1,2]},"lastPasswordEntry":789000000.25,)"
                             R"("showServiceIcons":false})"));
    EXPECT_EQ(modeOf(file_), 0600u);
    EXPECT_EQ(defaults_.date("lastPasswordEntry"), Date{789000000.25});
    EXPECT_EQ(defaults_.boolean("showServiceIcons"), false);
    EXPECT_EQ(defaults_.string("deviceID"), "ABC");

    ASSERT_FALSE(defaults_.remove("deviceID"));
    EXPECT_FALSE(defaults_.string("deviceID"));
    EXPECT_EQ(defaults_.string("cloudFolder"), "/media/sync");
}

TEST_F(SharedDefaultsTest, TheFirstWriteCreatesAPrivateFolder) {
    ASSERT_FALSE(defaults_.setBoolean("showServiceIcons", true));
    EXPECT_EQ(modeOf(file_.parent_path()), 0700u);
    EXPECT_EQ(modeOf(file_), 0600u);
}

TEST_F(SharedDefaultsTest, ValuesOfTheWrongTypeReadAsAbsent) {
    writeText(file_, R"({"lastPasswordEntry":"2024-01-01","showServiceIcons":1,"deviceID":7,)"
                     R"("other":null})");
    EXPECT_FALSE(defaults_.date("lastPasswordEntry"));
    EXPECT_FALSE(defaults_.boolean("showServiceIcons"));
    EXPECT_FALSE(defaults_.string("deviceID"));
    EXPECT_FALSE(defaults_.value("other"));
    EXPECT_FALSE(defaults_.value("missing"));
}

TEST_F(SharedDefaultsTest, EveryReadSeesWhatAnotherProcessWrote) {
    ASSERT_FALSE(defaults_.setBoolean("showServiceIcons", true));
    writeText(file_, R"({"showServiceIcons":false})");
    EXPECT_EQ(defaults_.boolean("showServiceIcons"), false);
}

TEST_F(SharedDefaultsTest, UnusableFilesReadAsEmptyAndAreReplacedOnWrite) {
    const std::string deep = std::string(100, '[') + std::string(100, ']');
    for (const std::string& content :
         {std::string("not json"), std::string("[1,2]"), std::string("{\"a\":\"\xff\"}"),
          "{\"a\":" + deep + "}", std::string(kMaxSharedDefaultsBytes + 1, ' ')}) {
        SCOPED_TRACE(content.substr(0, 20));
        writeText(file_, content);
        EXPECT_TRUE(defaults_.load().empty());
        ASSERT_FALSE(defaults_.setString("deviceID", "X"));
        EXPECT_EQ(readText(file_), R"({"deviceID":"X"})");
    }
}

TEST_F(SharedDefaultsTest, AFileThatCannotBeReadIsNotOverwritten) {
    std::filesystem::create_directories(file_); // a folder where the file should be
    EXPECT_TRUE(defaults_.setString("deviceID", "X"));
    EXPECT_TRUE(std::filesystem::is_directory(file_));
}

TEST_F(SharedDefaultsTest, AValueThatIsNotUTF8IsRefusedAndTheFileKept) {
    ASSERT_FALSE(defaults_.setString("syncFolder", "/home/a"));
    EXPECT_EQ(defaults_.setString("syncFolder", "/home/caf\xE9"),
              std::make_error_code(std::errc::illegal_byte_sequence));
    EXPECT_EQ(defaults_.string("syncFolder"), "/home/a");
}

TEST_F(SharedDefaultsTest, ConcurrentWritersLoseNoUpdate) {
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([this, w] {
            SharedDefaults own(file_); // as another process would
            for (int i = 0; i < 25; ++i) {
                (void)own.set("writer" + std::to_string(w) + "-" + std::to_string(i), Json(i));
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(defaults_.load().size(), 100u);
}

TEST_F(SharedDefaultsTest, DeviceIdentifierIsCreatedOnceAndKept) {
    std::set<std::string> seen;
    std::vector<std::thread> callers;
    std::mutex mutex;
    for (int c = 0; c < 4; ++c) {
        callers.emplace_back([&] {
            SharedDefaults own(file_);
            const std::string id = currentDeviceID(own);
            std::lock_guard lock(mutex);
            seen.insert(id);
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    ASSERT_EQ(seen.size(), 1u);
    const std::string id = *seen.begin();
    ASSERT_TRUE(Uuid::parse(id));
    EXPECT_EQ(Uuid::parse(id)->toString(), id); // upper-case canonical
    EXPECT_EQ(currentDeviceID(defaults_), id);
    EXPECT_EQ(currentDeviceID(*std::make_unique<SharedDefaults>(file_)), id); // a restart
    EXPECT_EQ(defaults_.string("deviceID"), id);
}

TEST_F(SharedDefaultsTest, DeviceIdentifierOfTheWrongTypeIsReplaced) {
    writeText(file_, R"({"deviceID":42,"showServiceIcons":true})");
    const std::string id = currentDeviceID(defaults_);
    EXPECT_TRUE(Uuid::parse(id));
    EXPECT_EQ(defaults_.string("deviceID"), id);
    EXPECT_EQ(defaults_.boolean("showServiceIcons"), true);
}

TEST(UserDirectories, FollowTheXdgConventionWithHomeFallbacks) {
    struct Case {
        Environment::Variables variables;
        std::filesystem::path data;
        std::filesystem::path config;
    };
    const Case cases[] = {
        {{{"HOME", "/home/ana"}}, "/home/ana/.local/share", "/home/ana/.config"},
        {{{"HOME", "/home/ana"}, {"XDG_DATA_HOME", "/d"}, {"XDG_CONFIG_HOME", "/c"}}, "/d", "/c"},
        {{{"HOME", "/home/ana"}, {"XDG_DATA_HOME", "rel/d"}, {"XDG_CONFIG_HOME", ""}},
         "/home/ana/.local/share",
         "/home/ana/.config"},
    };
    for (const auto& c : cases) {
        const auto directories = UserDirectories::from(Environment(c.variables));
        EXPECT_EQ(directories.dataHome, c.data);
        EXPECT_EQ(directories.configHome, c.config);
    }
    EXPECT_EQ(sharedDefaultsFile(UserDirectories{"/d", "/c"}), "/c/Tallowin/settings.json");
}

TEST(SharedDirectory, IsCreatedPrivatelyOnDemandAndFailureIsIgnored) {
    TempDirectory temp;
    const UserDirectories directories{temp / "a" / "share", temp / "config"};
    const auto folder = sharedDirectory(directories);
    EXPECT_EQ(folder, temp / "a" / "share" / "Tallowin");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(modeOf(folder), 0700u);

    writeText(temp / "blocked", "a file, not a folder");
    EXPECT_EQ(sharedDirectory(UserDirectories{temp / "blocked", temp / "c"}),
              temp / "blocked" / "Tallowin");
}

} // namespace
} // namespace tallowin
