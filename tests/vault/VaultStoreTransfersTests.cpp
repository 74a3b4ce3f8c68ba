// SPDX-License-Identifier: GPL-3.0-or-later
// Import, export, history and restore on a real store over temporary folders.
#include "EventLoop.h"
#include "TempFolder.h"
#include "core/Base32.h"
#include "core/FileIO.h"
#include "core/OTPAuthLink.h"
#include "core/SharedDefaults.h"
#include "core/VaultError.h"
#include "platform/InMemoryKeychain.h"
#include "platform/ScriptedBiometrics.h"
#include "platform/ScriptedCloudDrive.h"
#include "vault/VaultStore.h"

#include <QTimeZone>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tallowin {
namespace {

namespace fs = std::filesystem;
using test::run;
using testing::ElementsAre;
using testing::UnorderedElementsAre;

// 2026-03-05T14:15:03Z
constexpr Date kNow = Date::fromUnix(1772720103);
constexpr std::int64_t kFastIterations = 1000;
constexpr std::string_view kPassword = "correct horse battery";

std::string link(std::string_view issuer, std::string_view secret) {
    return "otpauth://totp/" + std::string(issuer) + ":me?secret=" + std::string(secret) +
           "&issuer=" + std::string(issuer);
}

void writeText(const fs::path& path, std::string_view text) {
    ASSERT_FALSE(writeFileAtomically(path, toBytes(text))) << path;
}

std::vector<std::string> issuers(const std::vector<Account>& accounts) {
    std::vector<std::string> names;
    for (const Account& account : accounts) {
        names.push_back(account.issuer);
    }
    return names;
}

// One device: a store over a temporary shared directory, with an in-memory keychain, a
// test clock and, when asked, a cloud container shared with other devices.
class Device {
public:
    explicit Device(std::optional<fs::path> container = std::nullopt)
        : defaults_(folder_.path() / "settings.json"),
          drive_(std::make_shared<ScriptedCloudDrive>(std::move(container))) {
        VaultStoreEnvironment environment;
        environment.sharedDirectory = folder_.path() / "shared";
        fs::create_directories(environment.sharedDirectory);
        environment.cloudDrive = drive_;
        environment.defaults = &defaults_;
        environment.keychain = &keychain_;
        environment.biometrics = &biometrics_;
        environment.clock = &clock_;
        environment.random = &systemRandom();
        environment.computerName = "test-host";
        environment.timeZone = QTimeZone::utc();
        environment.kdfIterations = kFastIterations;
        store_ = std::make_unique<VaultStore>(std::move(environment));
    }

    VaultStore& store() { return *store_; }
    FixedClock& clock() { return clock_; }
    const fs::path& folder() const { return folder_.path(); }

    void createVault() {
        run(store_->start());
        run(store_->createVault(std::string(kPassword)));
        ASSERT_EQ(store_->phase().kind, Phase::unlocked);
    }

    // An edit one second after the previous one, saved before it returns, so that each
    // edit leaves its own history version.
    template <typename Edit> void edit(Edit change) {
        clock_.advance(1);
        change(*store_);
        run(store_->sync(false));
    }

    AddResult add(std::initializer_list<std::string> links) {
        std::string text;
        for (const std::string& one : links) {
            text += one + "\n";
        }
        AddResult result;
        edit([&](VaultStore& store) { result = store.addDrafts(parseOTPAuthLinks(text).drafts); });
        return result;
    }

    const Account& live(std::string_view issuer) {
        for (const Account& account : store_->accounts()) {
            if (account.issuer == issuer) {
                return account;
            }
        }
        throw std::runtime_error("no live account " + std::string(issuer));
    }

private:
    test::TempFolder folder_;
    SharedDefaults defaults_;
    InMemoryKeychain keychain_;
    ScriptedBiometrics biometrics_{false};
    FixedClock clock_{kNow};
    std::shared_ptr<ScriptedCloudDrive> drive_;
    std::unique_ptr<VaultStore> store_;
};

const std::string kA = "JBSWY3DPEHPK3PXP";
const std::string kB = "KRSXG5CTMVRXEZLU";
const std::string kC = "GEZDGNBVGY3TQOJQ";
const std::string kD = "MFRGGZDFMZTWQ2LK";

// --- files handed to the application -------------------------------------------------------

struct PendingCase {
    std::string name;
    std::vector<std::string> files; ///< contents; "<missing>" names a file that isn't there
    std::string notice;
};

class PendingImportTest : public testing::TestWithParam<PendingCase> {};

TEST_P(PendingImportTest, OneNoticeSumsUpAllFiles) {
    Device device;
    device.createVault();
    device.add({link("Existing", kA)});

    std::vector<fs::path> files;
    for (std::size_t i = 0; i < GetParam().files.size(); ++i) {
        const fs::path file = device.folder() / ("links-" + std::to_string(i) + ".txt");
        if (GetParam().files[i] != "<missing>") {
            writeText(file, GetParam().files[i]);
        }
        files.push_back(file);
    }
    device.store().addPendingImports(files);
    EXPECT_EQ(device.store().notice(), GetParam().notice);
    run(device.store().sync(false));
}

INSTANTIATE_TEST_SUITE_P(
    Notices, PendingImportTest,
    testing::Values(
        PendingCase{"OneAccount", {link("GitHub", kB)}, "Imported 1 account"},
        PendingCase{"NoLinksIsPlural", {"just some words\nand more"}, "Imported 0 accounts"},
        PendingCase{"AddedPresentAndBrokenLink",
                    {link("GitHub", kB) + "\n" + link("Existing", kA) + "\r\n" + link("Mail", kC) +
                     "\notpauth://totp/Broken?secret=1890\nnot a link\n"},
                    "Imported 2 accounts \u00B7 1 already added \u00B7 1 link couldn't be read"},
        PendingCase{"SingularAndPluralPerPart",
                    {link("GitHub", kB) + " " + link("Mail", kC), "<missing>",
                     "otpauth://hotp/X?secret=" + kD + "\n" + link("Bank", kD),
                     std::string("\xFF\xFE not UTF-8 ") + link("Shop", "MZXW6YTBOI")},
                    "Imported 3 accounts \u00B7 1 link couldn't be read \u00B7 2 files couldn't "
                    "be opened"},
        PendingCase{"ByteOrderMarkAndUpperCaseScheme",
                    {"\xEF\xBB\xBF"
                     "OTPAUTH://TOTP/Bank:me?SECRET=" +
                         kD,
                     "otpauth://totp/A?secret=1\notpauth://totp/B?secret=8"},
                    "Imported 1 account \u00B7 2 links couldn't be read"}),
    [](const testing::TestParamInfo<PendingCase>& info) { return info.param.name; });

TEST(PendingImports, WaitWhileLockedAndAreImportedOnceOnUnlock) {
    Device device;
    device.createVault();
    device.store().lock(true);
    const fs::path first = device.folder() / "first.txt";
    const fs::path second = device.folder() / "second.txt";
    writeText(first, link("GitHub", kA));
    writeText(second, link("Mail", kB) + "\n" + link("GitHub", kA));

    device.store().addPendingImports({first});
    device.store().addPendingImports({second});
    EXPECT_EQ(device.store().notice(), std::nullopt);
    EXPECT_TRUE(device.store().all().empty());

    ASSERT_TRUE(run(device.store().unlock(std::string(kPassword))));
    EXPECT_EQ(device.store().notice(), "Imported 2 accounts \u00B7 1 already added");
    EXPECT_THAT(issuers(device.store().accounts()), ElementsAre("GitHub", "Mail"));

    // The files were taken: a later unlock imports nothing again.
    device.store().setNotice(std::nullopt);
    device.store().lock(true);
    ASSERT_TRUE(run(device.store().unlock(std::string(kPassword))));
    EXPECT_EQ(device.store().notice(), std::nullopt);
    EXPECT_EQ(device.store().accounts().size(), 2u);
}

// --- backups -------------------------------------------------------------------------------

TEST(Backups, ExportHoldsTheLiveAccountsAndImportsOnceIntoAnotherVault) {
    Device source;
    source.createVault();
    source.add({link("GitHub", kA), link("Mail", kB), link("Gone", kC)});
    source.edit([&](VaultStore& store) { store.moveToRecentlyDeleted(source.live("Gone").id); });

    const Bytes backup = run(source.store().exportBackup("backup password 1"));
    const VaultEnvelope envelope = decodeEnvelope(backup);
    EXPECT_EQ(envelope.format, kBackupFormat);
    EXPECT_EQ(envelope.savedBy, "test-host");
    EXPECT_EQ(envelope.savedAt, source.clock().now());
    EXPECT_EQ(envelope.kdf.iterations, kFastIterations);
    EXPECT_NE(envelope.keyID, source.store().header()->keyID) << "a backup has a key of its own";

    const std::vector<Account> opened = run(source.store().openBackup(backup, "backup password 1"));
    EXPECT_EQ(opened, source.store().accounts()) << "live accounts only, in display order";

    Device target;
    target.createVault();
    target.add({link("Mail", kB)});
    AddResult first;
    AddResult second;
    target.edit([&](VaultStore& store) { first = store.importAccounts(opened); });
    target.edit([&](VaultStore& store) { second = store.importAccounts(opened); });
    EXPECT_EQ(first, (AddResult{1, 1}));
    EXPECT_EQ(second, (AddResult{0, 2}));
    EXPECT_THAT(issuers(target.store().accounts()), ElementsAre("GitHub", "Mail"));
    const Account& imported = target.live("GitHub");
    EXPECT_NE(imported.id, opened.front().id) << "imported as a new account";
    EXPECT_EQ(imported.secret, kA);
}

TEST(Backups, ImportSkipsDeletedAccountsAndKeepsOnlyTheSettingsOfADraft) {
    Device device;
    device.createVault();
    Account deleted = makeAccount({"Old", "me", kA}, "OTHER", kNow);
    deleted.deletedAt = kNow;
    Account kept = makeAccount({"Bank", "me", kB, OTPAlgorithm::sha512, 8, 60}, "OTHER", kNow);
    kept.color = 3;
    kept.websites = {"bank.example"};

    AddResult result;
    device.edit([&](VaultStore& store) { result = store.importAccounts({deleted, kept}); });
    EXPECT_EQ(result, (AddResult{1, 0}));
    ASSERT_EQ(device.store().all().size(), 1u);
    const Account& added = device.store().all().front();
    EXPECT_EQ(added.issuer, "Bank");
    EXPECT_EQ(added.algorithm, OTPAlgorithm::sha512);
    EXPECT_EQ(added.digits, 8);
    EXPECT_EQ(added.period, 60);
    EXPECT_EQ(added.color, std::nullopt);
    EXPECT_TRUE(added.websites.empty());
    EXPECT_EQ(added.createdAt, device.clock().now());
}

TEST(Backups, OpeningFailsWithTheFileFormatsErrorsAndChangesNothing) {
    Device device;
    device.createVault();
    device.add({link("GitHub", kA)});
    const Bytes backup = run(device.store().exportBackup("backup password 1"));
    const std::vector<Account> before = device.store().all();

    const auto code = [&](Bytes bytes, std::string password) {
        try {
            run(device.store().openBackup(std::move(bytes), std::move(password)));
        } catch (const VaultError& error) {
            return error.code();
        }
        ADD_FAILURE() << "opened";
        return VaultError::keyUnavailable;
    };
    EXPECT_EQ(code(backup, "another password"), VaultError::wrongPassword);
    EXPECT_EQ(code(toBytes("not a backup"), "backup password 1"), VaultError::corrupted);
    VaultEnvelope newer = decodeEnvelope(backup);
    newer.version = 2;
    EXPECT_EQ(code(encodeEnvelope(newer), "backup password 1"), VaultError::unsupportedFormat);
    EXPECT_EQ(device.store().all(), before);
}

TEST(Backups, SetupLinksListTheLiveAccountsInDisplayOrder) {
    Device device;
    device.createVault();
    device.add({link("Mail", kB), link("Gone", kC), link("github", kA)});
    device.edit([&](VaultStore& store) { store.moveToRecentlyDeleted(device.live("Gone").id); });
    EXPECT_EQ(device.store().setupLinksText(), setupLinksText(device.store().accounts()));
    const ParsedOTPAuthLinks parsed = parseOTPAuthLinks(device.store().setupLinksText());
    ASSERT_EQ(parsed.drafts.size(), 2u);
    EXPECT_EQ(parsed.drafts[0].issuer, "github");
    EXPECT_EQ(parsed.drafts[1].issuer, "Mail");
}

struct BackupNameCase {
    const char* name;
    double unixTime;
    const char* expected;
};

class BackupNameTest : public testing::TestWithParam<BackupNameCase> {};

TEST_P(BackupNameTest, UsesTheUTCDate) {
    EXPECT_EQ(VaultStore::defaultBackupName(Date::fromUnix(GetParam().unixTime)),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, BackupNameTest,
    testing::Values(
        // 00:30 on 9 March in Tokyo (UTC+9) is still 8 March in UTC.
        BackupNameCase{"ShortlyAfterMidnightEastOfUTC", 1773014400 + 1800 - 9 * 3600,
                       "Tallowin Backup 2026-03-08"},
        BackupNameCase{"LastSecondOfADay", 1773100799, "Tallowin Backup 2026-03-09"},
        BackupNameCase{"FirstSecondOfADay", 1773014400, "Tallowin Backup 2026-03-09"},
        BackupNameCase{"LeapDay", 1709164800.5, "Tallowin Backup 2024-02-29"},
        BackupNameCase{"Before1970", -86400.5, "Tallowin Backup 1969-12-30"}),
    [](const testing::TestParamInfo<BackupNameCase>& info) { return info.param.name; });

// --- history -------------------------------------------------------------------------------

TEST(History, RestoringAVersionBringsBackItsAccountsOnceAndKeepsLaterOnes) {
    Device device;
    device.createVault();
    device.add({link("GitHub", kA), link("Mail", kB), link("Bank", kC)});
    const std::vector<Snapshot> afterAdding = run(device.store().listSnapshots());
    ASSERT_FALSE(afterAdding.empty());
    const Snapshot version = afterAdding.front(); // newest first

    device.edit([&](VaultStore& store) { store.moveToRecentlyDeleted(device.live("GitHub").id); });
    device.edit([&](VaultStore& store) {
        Account renamed = device.live("Mail");
        renamed.label = "renamed";
        store.updateAccount(renamed);
    });
    device.add({link("Later", kD)});
    EXPECT_GT(run(device.store().listSnapshots()).size(), afterAdding.size());

    const std::vector<Account> accounts = run(device.store().snapshotAccounts(version));
    EXPECT_THAT(issuers(accounts), UnorderedElementsAre("GitHub", "Mail", "Bank"));

    device.clock().advance(1);
    EXPECT_EQ(device.store().restoreVersion(accounts), 2) << "GitHub undeleted, Mail renamed back";
    EXPECT_EQ(device.store().restoreVersion(accounts), 0) << "already up to date";
    run(device.store().sync(false));

    EXPECT_THAT(issuers(device.store().accounts()), ElementsAre("Bank", "GitHub", "Later", "Mail"));
    EXPECT_EQ(device.live("Mail").label, "me");
    EXPECT_EQ(device.live("GitHub").updatedAt, device.clock().now()) << "stamped to win the merge";
    EXPECT_EQ(device.live("Bank").updatedAt, kNow.adding(1)) << "unchanged since: left alone";
    EXPECT_TRUE(device.store().recentlyDeleted().empty());
}

TEST(History, AVersionsDeletedAccountsAreNotRestored) {
    Device device;
    device.createVault();
    device.add({link("GitHub", kA)});
    Account tombstone = device.live("GitHub");
    tombstone.deletedAt = kNow;
    Account elsewhere = makeAccount({"Other", "me", kB}, "OTHER", kNow);
    elsewhere.deletedAt = kNow;
    EXPECT_EQ(device.store().restoreVersion({tombstone, elsewhere}), 0);
    EXPECT_EQ(device.store().all().size(), 1u);
    EXPECT_FALSE(isDeleted(device.store().all().front()));
    run(device.store().sync(false));
}

TEST(History, VersionsNeedTheKeyAndItMustBeTheirs) {
    Device device;
    device.createVault();
    device.add({link("GitHub", kA)});
    const Snapshot version = run(device.store().listSnapshots()).front();

    // A version made under another key (the vault was re-created) doesn't open.
    Device other;
    other.createVault();
    other.add({link("Mail", kB)});
    const Snapshot foreign = run(other.store().listSnapshots()).front();
    Snapshot copied = version;
    copied.url = version.url.parent_path() / "vault-20260101T000000Z-elsewhere.tlwvault";
    fs::copy_file(foreign.url, copied.url);
    try {
        run(device.store().snapshotAccounts(copied));
        ADD_FAILURE() << "opened";
    } catch (const VaultError& error) {
        EXPECT_EQ(error.code(), VaultError::foreignVault);
    }

    device.store().lock(true);
    try {
        run(device.store().snapshotAccounts(version));
        ADD_FAILURE() << "opened while locked";
    } catch (const VaultError& error) {
        EXPECT_EQ(error.code(), VaultError::keyUnavailable);
    }
    EXPECT_EQ(device.store().restoreVersion({makeAccount({"X", "", kC}, "OTHER", kNow)}), 0);
    EXPECT_TRUE(device.store().all().empty());
}

} // namespace
} // namespace tallowin
