// SPDX-License-Identifier: GPL-3.0-or-later
// The built tallowin-cli, run in temporary homes with passwords on standard input.
#include "Subprocess.h"
#include "TempDirectory.h"
#include "core/FileIO.h"
#include "core/VaultJSON.h"
#include "vault/Snapshot.h"

#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tallowin {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testsupport::CommandResult;
using testsupport::TempDirectory;

constexpr std::string_view kMaster = "master password A\n";
constexpr std::string_view kOtherMaster = "master password B\n";
constexpr std::chrono::seconds kCommandTimeout{120}; // sanitizer builds are slow

const std::string kGitHub = "otpauth://totp/GitHub:octo?secret=JBSWY3DPEHPK3PXP&issuer=GitHub";
const std::string kMail = "otpauth://totp/Mail:me%40example.com?secret=KRSXG5CTMVRXEZLU";
const std::string kShop = "otpauth://totp/Shop:me?secret=GEZDGNBVGY3TQOJQ&digits=8&period=60";

// A user's home with its own data and settings folders, and no keyring (so there is no
// unlock session and every command asks for the master password).
class CliHome {
public:
    CliHome() {
        for (const char* folder : {"home", "data", "config", "cache", "run"}) {
            fs::create_directories(root_ / folder);
        }
        fs::permissions(root_ / "run", fs::perms::owner_all);
        environment_.set("PATH", "/usr/bin:/bin");
        environment_.set("LC_ALL", "C.UTF-8");
        environment_.set("HOME", (root_ / "home").native());
        environment_.set("XDG_DATA_HOME", (root_ / "data").native());
        environment_.set("XDG_CONFIG_HOME", (root_ / "config").native());
        environment_.set("XDG_CACHE_HOME", (root_ / "cache").native());
        environment_.set("XDG_RUNTIME_DIR", (root_ / "run").native());
    }

    [[nodiscard]] const fs::path& root() const { return root_.path(); }
    [[nodiscard]] fs::path vault() const { return root_ / "data" / "Tallowin" / "vault.tlwvault"; }

    CommandResult run(std::vector<std::string> arguments, std::string_view input = {}) const {
        arguments.insert(arguments.begin(), TALLOWIN_CLI);
        return testsupport::runCommand(arguments, environment_, input, kCommandTimeout);
    }

    // A command given the passwords on standard input, expected to succeed.
    std::string ok(std::vector<std::string> arguments, std::string_view input = {}) const {
        arguments.insert(arguments.begin() + 1, "--password-stdin");
        const CommandResult result = run(arguments, input);
        EXPECT_TRUE(result.succeeded())
            << arguments.front() << " exited with " << result.exitCode << ": " << result.errors;
        return result.output;
    }

    // The accounts of `list --json` keyed by issuer and label, with their codes.
    Json list(std::string_view password = kMaster) const {
        const std::string output = ok({"list", "--json"}, password);
        return Json::parse(output, nullptr, false);
    }

private:
    TempDirectory root_;
    Environment environment_;
};

std::vector<std::string> field(const Json& list, const char* name) {
    std::vector<std::string> values;
    for (const Json& entry : list) {
        values.push_back(entry.value(name, ""));
    }
    return values;
}

// Issuer, label and code of every account of both homes at one moment: the first home is
// read before and after the second, and the reading is repeated when a code changed between.
std::pair<Json, Json> codesAtOneMoment(const CliHome& first, std::string_view firstPassword,
                                       const CliHome& second, std::string_view secondPassword) {
    const auto codes = [](const Json& list) {
        Json kept = Json::array();
        for (const Json& entry : list) {
            kept.push_back({entry["issuer"], entry["label"], entry["code"]});
        }
        return kept;
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
        const Json before = codes(first.list(firstPassword));
        const Json other = codes(second.list(secondPassword));
        if (codes(first.list(firstPassword)) == before) {
            return {before, other};
        }
    }
    ADD_FAILURE() << "the codes kept changing";
    return {};
}

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

TEST(CliEndToEnd, ABackupCarriesTheAccountsToAnotherHome) {
    const CliHome home;
    const std::string master(kMaster);
    EXPECT_THAT(home.ok({"init"}, master), HasSubstr("Created the vault"));
    EXPECT_EQ(home.ok({"add", kGitHub, kMail}, master), "Added 2 accounts\n");
    EXPECT_EQ(home.ok({"add", "--issuer", "Bank", "--label", "me", "--secret",
                       "mfrg gzdf mztw q2lk", "--digits", "8", "--algorithm", "sha256"},
                      master),
              "Added 1 account\n");
    EXPECT_EQ(home.ok({"add", kShop, kGitHub, "otpauth://hotp/X?secret=JBSWY3DP"}, master),
              "Added 1 account \u00B7 1 already in Tallowin \u00B7 1 link couldn't be read\n");

    const Json listed = home.list();
    EXPECT_THAT(field(listed, "issuer"), testing::ElementsAre("Bank", "GitHub", "Mail", "Shop"));
    EXPECT_THAT(field(listed, "label"), testing::ElementsAre("me", "octo", "me@example.com", "me"));
    for (const Json& entry : listed) {
        EXPECT_THAT(entry.value("code", ""), testing::MatchesRegex("[0-9]{6,8}"));
        EXPECT_GE(entry.value("secondsLeft", 0), 1);
        EXPECT_EQ(entry.value("id", "").size(), 36u);
    }

    const fs::path backup = home.root() / "backup.tlw";
    EXPECT_EQ(home.ok({"export-backup", backup.native()}, master + "backup password 1\n"),
              "Exported 4 accounts.\n");
    EXPECT_EQ(modeOf(backup), 0600u);
    EXPECT_EQ(modeOf(home.vault()), 0600u); // the local copy the browser host reads

    const CliHome other;
    const std::string otherMaster(kOtherMaster);
    other.ok({"init"}, otherMaster);
    other.ok({"add", kMail}, otherMaster);
    EXPECT_EQ(other.ok({"import", backup.native()}, otherMaster + "backup password 1\n"),
              backup.native() + ": Added 3 accounts \u00B7 1 already in Tallowin\n");
    EXPECT_EQ(other.ok({"import", backup.native()}, otherMaster + "backup password 1\n"),
              backup.native() + ": 4 already in Tallowin\n");

    const auto [codes, otherCodes] = codesAtOneMoment(home, kMaster, other, kOtherMaster);
    EXPECT_EQ(codes.size(), 4u);
    EXPECT_EQ(codes, otherCodes);

    // Both export the same setup links, and say what the file holds.
    const CommandResult links = home.run({"export-links", "--password-stdin", "-"}, master);
    const CommandResult otherLinks =
        other.run({"export-links", "--password-stdin", "-"}, otherMaster);
    EXPECT_EQ(links.exitCode, 0);
    EXPECT_EQ(links.output, otherLinks.output);
    EXPECT_THAT(links.output, HasSubstr("otpauth://totp/Shop:me?secret=GEZDGNBVGY3TQOJQ"));
    EXPECT_THAT(links.errors, HasSubstr("This file contains every setup key in plain text."));
    EXPECT_THAT(links.errors, HasSubstr("Exported 4 accounts."));
}

TEST(CliEndToEnd, PasswordsAndUsageErrorsGiveTheirExitStatus) {
    const CliHome home;
    const std::string master(kMaster);

    CommandResult result = home.run({"list", "--password-stdin"}, master);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.errors,
              "There is no vault on this device yet. Create one with \"tallowin-cli init\".\n");

    // New passwords need 10 characters.
    result = home.run({"init", "--password-stdin"}, "too short\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.errors, "At least 10 characters\n");

    home.ok({"init"}, master);
    result = home.run({"init", "--password-stdin"}, master);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.errors, "A Tallowin vault already exists on this device.\n");

    result = home.run({"code", "--password-stdin", "git"}, "wrong password\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.errors, "Incorrect password. Please try again.\n");
    EXPECT_EQ(result.output, "");

    result = home.run({"list", "--password-stdin"}, "");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.errors, "No password on standard input.\n");

    home.ok({"add", kGitHub, kMail}, master);
    result = home.run({"code", "--password-stdin", "o"}, master);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.errors, HasSubstr("Several accounts match \u201Co\u201D:"));
    EXPECT_THAT(result.errors, HasSubstr("GitHub (octo)"));
    EXPECT_THAT(home.ok({"code", "  GITHUB "}, master), testing::MatchesRegex("[0-9]{6}\n"));
    result = home.run({"code", "--password-stdin", "bank"}, master);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.errors, "No accounts match \u201Cbank\u201D\n");

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {},
             {"frobnicate"},
             {"list", "--bogus"},
             {"code"},
             {"lock", "extra"},
             {"add", "--digits", "9", "--secret", "JBSWY3DP", "--issuer", "X"},
             {"add", "--secret", "not base32!", "--issuer", "X"},
             {"sync-folder", "--off", "/tmp"}}) {
        result = home.run(wrong, master);
        EXPECT_EQ(result.exitCode, 2) << (wrong.empty() ? "" : wrong.front());
        EXPECT_EQ(result.output, "");
        EXPECT_NE(result.errors, "");
    }
    result = home.run({"add", "--secret", "1890", "--issuer", "X"});
    EXPECT_THAT(
        result.errors,
        HasSubstr("The setup key should only contain letters A\u2013Z and digits 2\u20137."));

    result = home.run({"code", "--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.output, HasSubstr("Usage: tallowin-cli code QUERY"));
    result = home.run({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.output, HasSubstr("restore-version"));
}

TEST(CliEndToEnd, RecentlyDeletedAndHistory) {
    const CliHome home;
    const std::string master(kMaster);
    home.ok({"init"}, master);
    home.ok({"add", kGitHub, kMail}, master);
    const Json listed = home.list();
    ASSERT_EQ(listed.size(), 2u);
    const std::string github = listed[0]["id"];
    const std::string mail = listed[1]["id"];
    const fs::path beforeDeleting = home.root() / "before-deleting.tlwvault";
    fs::copy_file(home.vault(), beforeDeleting);

    EXPECT_THAT(home.ok({"delete", github.substr(0, 8)}, master),
                HasSubstr("Moved GitHub (octo) to Recently Deleted."));
    EXPECT_THAT(home.ok({"deleted"}, master),
                HasSubstr(github + "  30 days left  GitHub (octo)\n"));
    EXPECT_EQ(home.list().size(), 1u);

    // An hour-old version with both accounts, as another computer would have left it.
    const Date anHourAgo = Date::fromUnix(
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() -
        3600);
    const std::string name = historyFileName(anHourAgo, "elsewhere");
    fs::copy_file(beforeDeleting, home.vault().parent_path() / "History" / name);

    const std::string history = home.ok({"history"});
    EXPECT_THAT(history, HasSubstr("  elsewhere\n"));
    EXPECT_THAT(home.ok({"history", name}, master), HasSubstr("GitHub (octo)  [Missing now]"));
    EXPECT_EQ(home.ok({"restore-version", name}, master), "Restored 1 account\n");
    EXPECT_EQ(home.ok({"restore-version", name}, master), "Already up to date\n");
    EXPECT_EQ(home.ok({"restore-version", "1"}, master), "Already up to date\n");
    EXPECT_EQ(home.list().size(), 2u);

    home.ok({"delete", mail}, master);
    EXPECT_THAT(home.ok({"restore-deleted", mail.substr(0, 6)}, master),
                HasSubstr("Restored Mail"));
    home.ok({"delete", mail}, master);
    EXPECT_THAT(home.ok({"delete-now", mail}, master),
                HasSubstr("The setup key is erased from all your devices."));
    EXPECT_EQ(home.ok({"deleted"}, master), "Deleted accounts stay here for 30 days.\n");
    const CommandResult again = home.run({"restore-deleted", "--password-stdin", mail}, master);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.errors, "No account has the ID " + mail + ".\n");
}

TEST(CliEndToEnd, EditChangesNamesAndColourOfOneLiveAccount) {
    const CliHome home;
    const std::string master(kMaster);
    home.ok({"init"}, master);
    home.ok({"add", kGitHub, kMail}, master);
    const Json before = home.list();
    ASSERT_EQ(before.size(), 2u);
    const std::string github = before[0]["id"];

    EXPECT_EQ(home.ok({"edit", github.substr(0, 5), "--issuer", " Git Hub\t", "--label", "work",
                       "--colour", "3"},
                      master),
              "Saved Git Hub (work), colour Mint.\n");
    Json after = home.list();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0]["issuer"], "Git Hub");
    EXPECT_EQ(after[0]["label"], "work");
    EXPECT_EQ(after[0]["color"], 3);
    for (const char* name : {"id", "issuer", "label", "color"}) {
        EXPECT_EQ(after[1][name], before[1][name]) << name; // the other account is untouched
    }

    // Only the options given change; "auto" gives the choice back to the name.
    EXPECT_THAT(home.ok({"edit", github, "--colour", "auto"}, master), HasSubstr("(automatic)."));
    after = home.list();
    EXPECT_TRUE(after[0]["color"].is_null());
    EXPECT_EQ(after[0]["label"], "work");

    const std::string mail = after[1]["id"];
    home.ok({"delete", mail}, master);
    struct Refused {
        std::vector<std::string> arguments;
        int exitCode;
        std::string_view message;
    };
    for (const Refused& refused : std::vector<Refused>{
             {{"edit", github}, 2, "give --issuer, --label or --colour"},
             {{"edit", github, "--colour", "12"}, 2, "--colour must be a palette number"},
             {{"edit", github, "--colour", "-1"}, 2, "--colour must be a palette number"},
             {{"edit", github, "--issuer", "", "--label", " "}, 2, "an account keeps a service"},
             {{"edit", "ZZZZ", "--label", "x"}, 1, "No account has the ID ZZZZ."},
             {{"edit", mail, "--label", "x"}, 1, "No account has the ID"}}) {
        std::vector<std::string> arguments = refused.arguments;
        arguments.insert(arguments.begin() + 1, "--password-stdin");
        const CommandResult result = home.run(arguments, master);
        EXPECT_EQ(result.exitCode, refused.exitCode) << arguments.back();
        EXPECT_THAT(result.errors, HasSubstr(std::string(refused.message))) << arguments.back();
    }
    after = home.list();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0]["issuer"], "Git Hub");
    EXPECT_EQ(after[0]["label"], "work");
}

TEST(CliEndToEnd, TwoHomesOnOneSyncFolderConverge) {
    const TempDirectory syncFolder;
    const CliHome first;
    const CliHome second;
    const std::string master(kMaster);

    first.ok({"init"}, master);
    first.ok({"add", kGitHub}, master);
    EXPECT_THAT(first.ok({"sync-folder", syncFolder.path().native()}, master),
                HasSubstr("Synced just now"));
    EXPECT_TRUE(
        fs::exists(syncFolder / "iCloud.com.tallowin.app" / "Documents" / "vault.tlwvault"));

    // The second home joins the vault in the folder with its master password.
    second.ok({"sync-folder", syncFolder.path().native()}, master);
    EXPECT_THAT(second.ok({"status"}), HasSubstr("State:        locked"));

    first.ok({"add", kMail}, master);
    second.ok({"add", kShop}, master);
    second.ok({"delete", second.list()[0]["id"].get<std::string>()}, master); // GitHub
    first.ok({"sync"}, master);

    const Json firstList = first.list();
    EXPECT_THAT(field(firstList, "label"), testing::ElementsAre("me@example.com", "me"));
    EXPECT_EQ(field(firstList, "id"), field(second.list(), "id"));
    EXPECT_EQ(first.ok({"export-links", "-"}, master), second.ok({"export-links", "-"}, master));
}

} // namespace
} // namespace tallowin
