// SPDX-License-Identifier: GPL-3.0-or-later
#include "TemporaryFolder.h"
#include "browser/LearnedSites.h"
#include "core/FileIO.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tallowin {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFirstID = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
constexpr const char* kSecondID = "6BA7B810-9DAD-11D1-80B4-00C04FD430C8";
constexpr const char* kUnknownID = "00000000-0000-0000-0000-000000000000";

class LearnedSitesTest : public TemporaryFolderTest {
protected:
    fs::path file() const { return dir_ / "learned-sites.json"; }

    void write(const fs::path& path, std::string_view text) const {
        ASSERT_FALSE(writeFileAtomically(path, toBytes(text)));
    }

    std::string read(const fs::path& path) const {
        Bytes bytes;
        EXPECT_FALSE(readFile(path, bytes, 1u << 21));
        return toString(bytes);
    }

    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static Account account(const char* id, std::vector<std::string> websites = {}) {
        Account a;
        a.id = *Uuid::parse(id);
        a.issuer = "Example";
        a.secret = "JBSWY3DPEHPK3PXP";
        a.websites = std::move(websites);
        a.updatedAt = Date{100};
        a.updatedBy = "OLD-DEVICE";
        return a;
    }

    const Date now_{800'000'000};
};

TEST_F(LearnedSitesTest, RememberAddsEachIdOnceUnderTheNormalisedHost) {
    rememberSite(dir_, "https://WWW.Example.com/login", "3f2504e0-4f89-41d3-9a0c-0305e82c3301");
    const std::string once = read(file());
    rememberSite(dir_, "example.com", kFirstID);
    EXPECT_EQ(read(file()), once);
    rememberSite(dir_, "example.com", kSecondID);
    rememberSite(dir_, "other.example", kFirstID);

    EXPECT_EQ(loadLearnedSites(dir_), (LearnedSites{{"example.com", {kFirstID, kSecondID}},
                                                    {"other.example", {kFirstID}}}));
    EXPECT_EQ(read(file()), std::string(R"({"example.com":[")") + kFirstID + R"(",")" + kSecondID +
                                R"("],"other.example":[")" + kFirstID + R"("]})");
    struct stat info {};
    ASSERT_EQ(::stat(file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(LearnedSitesTest, RememberIgnoresEmptyHostsAndIdsThatAreNoUUID) {
    rememberSite(dir_, " \n", kFirstID);
    rememberSite(dir_, "https://www./", kFirstID);
    rememberSite(dir_, "example.com", "");
    rememberSite(dir_, "example.com", "not-an-id");
    rememberSite(dir_, std::string(300, 'a') + ".com", kFirstID);
    EXPECT_FALSE(fs::exists(file()));
}

TEST_F(LearnedSitesTest, RememberReplacesAnUndecodableFile) {
    write(file(), "{\"example.com\": 7}");
    rememberSite(dir_, "example.com", kFirstID);
    EXPECT_EQ(loadLearnedSites(dir_), (LearnedSites{{"example.com", {kFirstID}}}));
}

TEST_F(LearnedSitesTest, RememberStopsBeforeTheFileOutgrowsTheReadLimit) {
    // Close to the limit: one more host would make the file unreadable and lose it all.
    LearnedSites many;
    std::size_t size = 2;
    for (int i = 0; size < kMaxLearnedSitesBytes - 200; ++i) {
        const std::string host = "h" + std::to_string(i) + ".example";
        size += host.size() + 44; // "host":["id"],
        many[host] = {kFirstID};
    }
    const std::size_t room = kMaxLearnedSitesBytes - encodeLearnedSites(many).size();
    ASSERT_GT(room, 44u + 20u);
    many[std::string(room - 44 - 20, 'p') + ".x"] = {kFirstID};
    ASSERT_EQ(encodeLearnedSites(many).size(), kMaxLearnedSitesBytes - 18);
    write(file(), encodeLearnedSites(many));
    ASSERT_EQ(loadLearnedSites(dir_), many);
    rememberSite(dir_, "new.example", kSecondID);
    EXPECT_EQ(loadLearnedSites(dir_), many);
}

TEST_F(LearnedSitesTest, MalformedOrOversizedInputReadsAsEmpty) {
    const std::string cases[] = {
        "",
        "not json",
        "[]",
        "\"example.com\"",
        R"({"example.com": "3F2504E0-4F89-41D3-9A0C-0305E82C3301"})",
        R"({"a.example": ["X"], "b.example": [1]})",
        R"({"a.example": [["X"]]})",
        R"({"a.example": null})",
        "{\"a.example\": [\"\xff\"]}",
        R"({"a.example": ["X"]} trailing)",
    };
    for (const auto& text : cases) {
        EXPECT_TRUE(decodeLearnedSites(text).empty()) << text;
    }
    std::string padded = R"({"a.example": ["X"]})";
    padded.append(kMaxLearnedSitesBytes + 1 - padded.size(), ' ');
    EXPECT_TRUE(decodeLearnedSites(padded).empty());
    write(file(), padded);
    EXPECT_TRUE(loadLearnedSites(dir_).empty());
    padded.pop_back();
    EXPECT_EQ(decodeLearnedSites(padded), (LearnedSites{{"a.example", {"X"}}}));

    EXPECT_TRUE(loadLearnedSites(dir_ / "missing").empty());
    fs::remove(file());
    fs::create_directory(file());
    EXPECT_TRUE(loadLearnedSites(dir_).empty());
}

TEST_F(LearnedSitesTest, LoadDoesNotBlockOnAFifo) {
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    EXPECT_TRUE(loadLearnedSites(dir_).empty());
}

TEST_F(LearnedSitesTest, AbsorbAppendsEachHostOnceStampsAndRemovesTheFile) {
    write(file(), std::string(R"({"a.example": [")") + kFirstID + R"("],)" + R"("b.example": [")" +
                      kFirstID + R"(", ")" + kSecondID + R"(", ")" + kUnknownID + R"("],)" +
                      R"("known.example": [")" + kFirstID + R"("],)" + R"("empty.example": []})");
    Account deleted = account(kSecondID);
    deleted.deletedAt = Date{50};
    const std::vector<Account> before{account(kFirstID, {"known.example"}), deleted,
                                      account("11111111-1111-1111-1111-111111111111")};

    const AbsorbResult result = absorbLearnedSites(dir_, before, now_, "THIS-DEVICE");

    EXPECT_TRUE(result.changed);
    ASSERT_EQ(result.accounts.size(), 3u);
    EXPECT_EQ(result.accounts[0].websites,
              (std::vector<std::string>{"known.example", "a.example", "b.example"}));
    EXPECT_EQ(result.accounts[0].updatedAt, now_);
    EXPECT_EQ(result.accounts[0].updatedBy, "THIS-DEVICE");
    EXPECT_EQ(result.accounts[1].websites, (std::vector<std::string>{"b.example"}));
    EXPECT_EQ(result.accounts[1].updatedBy, "THIS-DEVICE");
    EXPECT_EQ(result.accounts[1].deletedAt, Date{50});
    EXPECT_EQ(result.accounts[2], before[2]);
    EXPECT_TRUE(folderEntries().empty());

    const AbsorbResult again = absorbLearnedSites(dir_, result.accounts, now_.adding(5), "X");
    EXPECT_FALSE(again.changed);
    EXPECT_EQ(again.accounts, result.accounts);
}

TEST_F(LearnedSitesTest, AbsorbWithNothingToAddLeavesAccountsAloneButRemovesTheFile) {
    write(file(), std::string(R"({"known.example": [")") + kFirstID + R"(", ")" + kUnknownID +
                      R"("], " ": [")" + kFirstID + R"("]})");
    const std::vector<Account> before{account(kFirstID, {"known.example"})};
    const AbsorbResult result = absorbLearnedSites(dir_, before, now_, "THIS-DEVICE");
    EXPECT_FALSE(result.changed);
    EXPECT_EQ(result.accounts, before);
    EXPECT_TRUE(folderEntries().empty());

    // No file at all: nothing happens.
    const AbsorbResult none = absorbLearnedSites(dir_, before, now_, "THIS-DEVICE");
    EXPECT_FALSE(none.changed);
    EXPECT_EQ(none.accounts, before);
}

TEST_F(LearnedSitesTest, HostRememberedDuringAnAbsorbWaitsForTheNextOne) {
    rememberSite(dir_, "first.example", kFirstID);
    const std::vector<Account> before{account(kFirstID)};

    const AbsorbResult first = absorbLearnedSites(dir_, before, now_, "THIS-DEVICE", [&] {
        // A companion remembers a host after the file was taken but before it is deleted.
        rememberSite(dir_, "second.example", kFirstID);
    });
    EXPECT_EQ(first.accounts[0].websites, (std::vector<std::string>{"first.example"}));
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"learned-sites.json"}));

    const AbsorbResult second = absorbLearnedSites(dir_, first.accounts, now_, "THIS-DEVICE");
    EXPECT_TRUE(second.changed);
    EXPECT_EQ(second.accounts[0].websites,
              (std::vector<std::string>{"first.example", "second.example"}));
    EXPECT_TRUE(folderEntries().empty());
}

TEST_F(LearnedSitesTest, CopiesLeftAsideByAnInterruptedAbsorbAreAbsorbedToo) {
    write(dir_ / "learned-sites.absorbing-Ab12Cd",
          std::string(R"({"left.example": [")") + kFirstID + R"("]})");
    write(dir_ / "learned-sites.absorbing-Zz99Yy", ""); // reserved, never filled
    write(file(), std::string(R"({"new.example": [")") + kFirstID + R"("]})");
    write(dir_ / "unrelated.json", "{}");

    const AbsorbResult result = absorbLearnedSites(dir_, {account(kFirstID)}, now_, "THIS-DEVICE");
    EXPECT_TRUE(result.changed);
    EXPECT_EQ(result.accounts[0].websites,
              (std::vector<std::string>{"left.example", "new.example"}));
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"unrelated.json"}));
}

} // namespace
} // namespace tallowin
