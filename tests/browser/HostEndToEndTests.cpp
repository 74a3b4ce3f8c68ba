// SPDX-License-Identifier: GPL-3.0-or-later
// The built TallowinChromeHost, driven through pipes like a browser drives it, against a
// vault made with the core and an unlock session in a private gnome-keyring.

#include "HostProcess.h"
#include "SecretServiceSession.h"
#include "browser/LearnedSites.h"
#include "core/Base32.h"
#include "core/FileIO.h"
#include "core/SharedConfiguration.h"
#include "core/SharedDefaults.h"
#include "core/Totp.h"
#include "core/UnlockSession.h"
#include "core/VaultEnvelope.h"
#include "platform/SecretServiceKeychain.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

using namespace std::chrono_literals;
using testsupport::HostProcess;
using testsupport::SecretServiceSession;

class HostEndToEndTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        try {
            session_ = std::make_unique<SecretServiceSession>();
        } catch (const std::exception& error) {
            failure_ = error.what();
        }
    }
    static void TearDownTestSuite() { session_.reset(); }

    void SetUp() override {
        if (!session_) {
            if (testsupport::secretServiceRequired()) {
                FAIL() << "no Secret Service: " << failure_;
            }
            GTEST_SKIP() << "no Secret Service: " << failure_;
        }
        const UserDirectories directories = session_->userDirectories();
        shared_ = sharedDirectory(directories);
        std::filesystem::remove_all(shared_);
        std::filesystem::create_directories(shared_);
        defaults_ = std::make_unique<SharedDefaults>(sharedDefaultsFile(directories));
        ASSERT_FALSE(defaults_->setDate("lastPasswordEntry", systemClock().now()));
        keychain_ = std::make_unique<SecretServiceKeychain>(session_->keychainOptions());

        AccountDraft github{"GitHub", "me@example.org", "JBSWY3DPEHPK3PXP", OTPAlgorithm::sha1, 6,
                            30};
        AccountDraft bank{"Example Bank", "", "GEZDGNBVGY3TQOJQ", OTPAlgorithm::sha256, 8, 60};
        accounts_ = {makeAccount(github, "DEV", systemClock().now()),
                     makeAccount(bank, "DEV", systemClock().now())};
        writeVault(key_);
        session().save(key_);
    }

    UnlockSession session() { return UnlockSession(*keychain_, *defaults_, systemClock()); }

    void writeVault(const VaultKey& key) {
        VaultEnvelope envelope = makeEnvelopeHeader(kVaultFormat, "password", key, "host",
                                                    systemClock().now(), systemRandom(), 1);
        envelope.payload = sealContents(accounts_, key);
        ASSERT_FALSE(writeFileAtomically(shared_ / "vault.tlwvault", encodeEnvelope(envelope)));
    }

    HostProcess startHost() { return HostProcess(TALLOWIN_CHROME_HOST, session_->environment()); }

    static Json reply(HostProcess& host) {
        const auto text = host.readMessage(20s);
        return text ? Json::parse(*text) : Json();
    }

    static inline std::unique_ptr<SecretServiceSession> session_;
    static inline std::string failure_;
    std::filesystem::path shared_;
    std::unique_ptr<SharedDefaults> defaults_;
    std::unique_ptr<SecretServiceKeychain> keychain_;
    std::vector<Account> accounts_;
    VaultKey key_ = newVaultKey();
};

TEST_F(HostEndToEndTest, AnswersBackToBackRequestsInOrderAndExitsAtEndOfInput) {
    const std::string id = accounts_[0].id.toString();
    HostProcess host = startHost();
    ASSERT_TRUE(host.writeMessage(
        R"({"type":"remember","host":"https://www.github.com/login","id":")" + id + "\"}"));
    ASSERT_TRUE(host.writeMessage(R"({"type":"accounts","host":"github.com"})"));
    host.closeInput();

    EXPECT_EQ(reply(host), (Json{{"ok", true}}));
    const Json accounts = reply(host);
    ASSERT_EQ(accounts["ok"], true) << accounts;
    EXPECT_EQ(accounts["host"], "github.com");
    ASSERT_EQ(accounts["accounts"].size(), 2u);
    const Json& bank = accounts["accounts"][0];
    const Json& github = accounts["accounts"][1];
    EXPECT_EQ(bank["issuer"], "Example Bank");
    EXPECT_EQ(bank["score"], 0);
    EXPECT_EQ(github["score"], 95); // learned a moment ago, not yet in the account's websites
    for (const Json* entry : {&bank, &github}) {
        const Account& account = (*entry)["id"] == id ? accounts_[0] : accounts_[1];
        const auto secret = *base32Decode(account.secret);
        const auto period = (*entry)["period"].get<std::int64_t>();
        const auto start = (*entry)["start"].get<std::int64_t>();
        EXPECT_EQ(period, account.period);
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ((*entry)["codes"][i],
                      totpCode(secret, static_cast<std::uint64_t>(start / period + i),
                               account.algorithm, account.digits));
        }
    }
    EXPECT_EQ(host.waitForExit(20s), 0);
    EXPECT_EQ(loadLearnedSites(shared_), (LearnedSites{{"github.com", {id}}}));
}

TEST_F(HostEndToEndTest, HandlesTheLargestMessage) {
    std::string message = R"({"type":"accounts","host":"github.com","pad":")";
    message += std::string(999'999 - message.size() - 2, 'x') + "\"}";
    ASSERT_EQ(message.size(), 999'999u);
    HostProcess host = startHost();
    ASSERT_TRUE(host.writeMessage(message));
    EXPECT_EQ(reply(host)["ok"], true);
    host.closeInput();
    EXPECT_EQ(host.waitForExit(20s), 0);
}

TEST_F(HostEndToEndTest, EndsOnAnOversizedLengthWithoutWaitingForTheBody) {
    HostProcess host = startHost();
    ASSERT_TRUE(host.write(HostProcess::lengthPrefix(1'000'000)));
    // Input stays open: the host must end on the length alone.
    EXPECT_EQ(host.waitForExit(20s), 0);
    EXPECT_EQ(host.readMessage(1s), std::nullopt);
}

TEST_F(HostEndToEndTest, EndsOnANonObjectMessage) {
    HostProcess host = startHost();
    ASSERT_TRUE(host.writeMessage("[]"));
    ASSERT_TRUE(host.writeMessage(R"({"type":"accounts"})"));
    EXPECT_EQ(host.waitForExit(20s), 0);
    EXPECT_EQ(host.readMessage(1s), std::nullopt);
}

TEST_F(HostEndToEndTest, TamperedVaultIsNoVaultAndAForeignSessionIsLocked) {
    Bytes bytes;
    ASSERT_FALSE(readFile(shared_ / "vault.tlwvault", bytes, kMaxVaultFileBytes));
    bytes.resize(bytes.size() / 2);
    ASSERT_FALSE(writeFileAtomically(shared_ / "vault.tlwvault", bytes));
    {
        HostProcess host = startHost();
        ASSERT_TRUE(host.writeMessage(R"({"type":"accounts"})"));
        EXPECT_EQ(reply(host)["error"], "noVault");
    }
    writeVault(key_);
    session().save(newVaultKey()); // a session for another vault; no device key on Linux
    HostProcess host = startHost();
    ASSERT_TRUE(host.writeMessage(R"({"type":"accounts"})"));
    EXPECT_EQ(reply(host),
              (Json{{"ok", false},
                    {"error", "locked"},
                    {"message", "Open Tallowin and unlock it with your master password."}}));
}

} // namespace
} // namespace tallowin
