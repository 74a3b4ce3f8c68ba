// SPDX-License-Identifier: GPL-3.0-or-later
// tallowin-cli against a real Secret Service: the unlock session it writes is the one the
// browser's native-messaging host takes the vault key from.
#include "SecretServiceTest.h"
#include "Subprocess.h"
#include "browser/NativeMessaging.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tallowin {
namespace {

using testing::HasSubstr;
using testsupport::CommandResult;

constexpr std::string_view kMaster = "master password A\n";
constexpr std::chrono::seconds kTimeout{120};
const std::string kGitHub = "otpauth://totp/GitHub:octo?secret=JBSWY3DPEHPK3PXP&issuer=GitHub";

class CliSessionTest : public testsupport::SecretServiceTest {
protected:
    CommandResult cli(std::vector<std::string> arguments, std::string_view input = {}) {
        arguments.insert(arguments.begin(), TALLOWIN_CLI);
        return testsupport::runCommand(arguments, session().environment(), input, kTimeout);
    }

    std::string ok(std::vector<std::string> arguments, std::string_view input = {}) {
        const CommandResult result = cli(arguments, input);
        EXPECT_TRUE(result.succeeded())
            << arguments.front() << " exited with " << result.exitCode << ": " << result.errors;
        return result.output;
    }

#ifdef TALLOWIN_CHROME_HOST
    // One request to the native-messaging host, as a browser sends it; its one reply.
    Json askHost(const Json& request) {
        StringSink framed;
        EXPECT_TRUE(writeMessage(framed, request));
        const CommandResult result =
            testsupport::runCommand({TALLOWIN_CHROME_HOST, "chrome-extension://tallowin-test/"},
                                    session().environment(), framed.bytes(), kTimeout);
        MemorySource replies(result.output);
        return readMessage(replies).value_or(Json());
    }
#endif
};

TEST_F(CliSessionTest, UnlockWritesTheSessionThatSparesPasswordsAndServesTheBrowserHost) {
    EXPECT_THAT(ok({"init", "--password-stdin"}, kMaster), HasSubstr("Created the vault"));
    // init keeps its session, as creating a vault in the application does.
    EXPECT_EQ(ok({"add", kGitHub}), "Added 1 account\n");
    EXPECT_EQ(ok({"lock"}), "Locked.\n");
    EXPECT_THAT(ok({"status"}), HasSubstr("State:        locked\n"));

    // A password typed for one command leaves no session behind.
    EXPECT_THAT(ok({"code", "--password-stdin", "github"}, kMaster),
                testing::MatchesRegex("[0-9]{6}\n"));
    EXPECT_THAT(ok({"status"}), HasSubstr("State:        locked\n"));
#ifdef TALLOWIN_CHROME_HOST
    const Json locked = askHost({{"type", "accounts"}, {"host", "github.com"}});
    EXPECT_EQ(locked.value("error", ""), "locked") << locked.dump();
#endif

    EXPECT_EQ(ok({"unlock", "--password-stdin"}, kMaster), "Unlocked for 12 hours.\n");
    EXPECT_THAT(ok({"status"}), HasSubstr("State:        unlocked (unlock session)\n"));
    EXPECT_THAT(ok({"code", "github"}), testing::MatchesRegex("[0-9]{6}\n"));

#ifdef TALLOWIN_CHROME_HOST
    const Json reply = askHost({{"type", "accounts"}, {"host", "https://github.com/login"}});
    ASSERT_EQ(reply.value("ok", false), true) << reply.dump();
    ASSERT_EQ(reply["accounts"].size(), 1u) << reply.dump();
    const Json& account = reply["accounts"][0];
    EXPECT_EQ(account.value("issuer", ""), "GitHub");
    EXPECT_EQ(account.value("label", ""), "octo");
    EXPECT_GT(account.value("score", 0), 0);
    EXPECT_EQ(account["codes"].size(), 20u);

    // A site the extension learned joins the account's websites at the next sync pass.
    const Json remembered = askHost(
        {{"type", "remember"}, {"host", "https://login.example.org/"}, {"id", account["id"]}});
    EXPECT_EQ(remembered, Json({{"ok", true}}));
    const Json found = Json::parse(ok({"list", "--json", "example.org"}), nullptr, false);
    ASSERT_EQ(found.size(), 1u) << found.dump();
    EXPECT_EQ(found[0]["id"], account["id"]);
#else
    GTEST_SKIP() << "the native-messaging host isn't built here";
#endif

    EXPECT_EQ(ok({"lock"}), "Locked.\n");
    const CommandResult afterLock = cli({"list", "--password-stdin"}, "");
    EXPECT_EQ(afterLock.exitCode, 1) << "the session is gone, so the password is asked for";
}

} // namespace
} // namespace tallowin
