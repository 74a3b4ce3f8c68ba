// SPDX-License-Identifier: GPL-3.0-or-later
// Kills computers in the middle of their sync passes, hundreds of times, and checks that the
// vault copies they leave always open and hold a whole account list.
#include "StoreFixture.h"
#include "Subprocess.h"
#include "TempFolder.h"

#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>

namespace tallowin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kHelper = TALLOWIN_SYNC_CRASH_HELPER;
constexpr const char* kPassword = "crash test password";
constexpr int kKills = 220;

class SyncCrashTest : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(sync_); }

    testsupport::ChildProcess startHelper(const std::string& name, bool setupOnly) {
        std::vector<std::string> argv{kHelper, (root_.path() / name).string(), sync_.string(),
                                      name};
        if (setupOnly) {
            argv.emplace_back("--setup");
        }
        testsupport::ChildProcess::Options options;
        options.pipeOutput = true;
        options.errorFile = root_.path() / "helper-errors.log";
        return testsupport::ChildProcess(argv, Environment::current(), options);
    }

    /// Runs the helper until it has opened (or created) the vault and synced once.
    void setUpComputer(const std::string& name) {
        testsupport::ChildProcess helper = startHelper(name, true);
        const std::optional<std::string> line = helper.readLine(60s);
        ASSERT_EQ(line, "done") << name;
        helper.stop();
    }

    fs::path localVault(const std::string& name) const {
        return root_.path() / name / "shared" / "vault.tlwvault";
    }

    /// The account numbers of computer `name` in `accounts`; fails on a repeated number.
    static std::set<int> numbersOf(const std::vector<Account>& accounts, const std::string& name) {
        std::set<int> numbers;
        for (const Account& account : accounts) {
            if (account.issuer == name) {
                const int n = std::stoi(account.label.substr(name.size() + 1));
                EXPECT_TRUE(numbers.insert(n).second) << account.label << " twice";
            }
        }
        return numbers;
    }

    /// The copy opens with the key and holds, for each computer, its accounts 0..m-1 with m
    /// at least the number it reported as written.
    void expectWhole(const fs::path& vault, const std::vector<std::string>& names, int round) {
        std::vector<Account> accounts;
        try {
            accounts = test::accountsIn(vault, key_);
        } catch (const std::exception& error) {
            FAIL() << vault << " after kill " << round << ": " << error.what();
        }
        for (const std::string& name : names) {
            const std::set<int> numbers = numbersOf(accounts, name);
            const int count = static_cast<int>(numbers.size());
            EXPECT_TRUE(numbers.empty() ||
                        (*numbers.begin() == 0 && *numbers.rbegin() == count - 1))
                << vault << " after kill " << round << ": " << name << " has a gap";
            EXPECT_GE(count, written_[name]) << vault << " after kill " << round << ": " << name
                                             << " lost an account it had written";
        }
    }

    test::TempFolder root_;
    fs::path sync_ = root_.path() / "Sync";
    VaultKey key_;
    std::map<std::string, int> written_{{"A", 0}, {"B", 0}};
};

TEST_F(SyncCrashTest, CopiesSurviveKillsAtAnyPointOfTheirPasses) {
    setUpComputer("A");
    setUpComputer("B");
    key_ = test::keyOf(test::cloudVaultIn(sync_), kPassword);

    std::mt19937 random(20260305); // fixed: a failure can be replayed
    int killsDuringWrites = 0;
    for (int round = 1; round <= kKills; ++round) {
        const std::string name = random() % 2 == 0 ? "A" : "B";
        testsupport::ChildProcess helper = startHelper(name, false);
        ASSERT_EQ(helper.readLine(60s), "ready") << "round " << round;

        // Kill after a random number of progress steps, and a random bit of work more, so the
        // kill lands anywhere in a pass: merging, sealing, or writing one of the files.
        const int steps = std::uniform_int_distribution<int>(1, 12)(random);
        std::string last;
        for (int step = 0; step < steps; ++step) {
            const std::optional<std::string> line = helper.readLine(60s);
            ASSERT_TRUE(line) << "round " << round << ": the helper stopped";
            ASSERT_NE(line->rfind("failed", 0), 0u) << "round " << round << ": " << *line;
            if (line->rfind("synced ", 0) == 0) {
                written_[name] = std::max(written_[name], std::stoi(line->substr(7)) + 1);
            }
            last = *line;
        }
        volatile unsigned sink = 0;
        const unsigned work = std::uniform_int_distribution<unsigned>(0, 3'000'000)(random);
        for (unsigned i = 0; i < work; ++i) {
            sink = sink + i;
        }
        ASSERT_EQ(::kill(helper.pid(), SIGKILL), 0);
        helper.stop();
        killsDuringWrites += last == "published" ? 1 : 0;

        expectWhole(test::cloudVaultIn(sync_), {"A", "B"}, round);
        expectWhole(localVault(name), {name}, round);
        if (HasFailure()) {
            return;
        }
    }
    // The kills did reach the writing part of passes, not only their start.
    EXPECT_GT(killsDuringWrites, kKills / 10);
    EXPECT_GT(written_["A"] + written_["B"], kKills / 2);
}

} // namespace
} // namespace tallowin
