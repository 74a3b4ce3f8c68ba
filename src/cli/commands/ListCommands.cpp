// SPDX-License-Identifier: GPL-3.0-or-later
// list and code: the live accounts with their current codes.
#include "cli/AccountFilter.h"
#include "cli/CommandContext.h"
#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "core/Totp.h"
#include "core/Unicode.h"

#include <algorithm>
#include <cmath>
#include <ostream>

namespace tallowin {

namespace {

int wholeSecondsLeft(const Account& account, Date now) {
    return static_cast<int>(std::ceil(secondsRemaining(account.period, now)));
}

std::string noMatchText(std::string_view query) {
    return "No accounts match \u201C" + searchQuery(query) + "\u201D";
}

QCoro::Task<int> runList(CommandContext& context) {
    co_await context.requireUnlocked();
    const std::string query =
        context.arguments().positional.empty() ? "" : context.arguments().positional.front();
    const std::vector<Account> shown = filterAccounts(context.store().accounts(), query);
    const Date now = context.now();
    std::ostream& out = context.out();

    if (context.arguments().has("json")) {
        Json list = Json::array();
        for (const Account& account : shown) {
            list.push_back({{"id", account.id.toString()},
                            {"issuer", account.issuer},
                            {"label", account.label},
                            {"color", account.color ? Json(*account.color) : Json()},
                            {"code", currentCode(account, now)},
                            {"secondsLeft", wholeSecondsLeft(account, now)}});
        }
        out << list.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
        co_return 0;
    }
    if (shown.empty()) {
        context.err() << (context.store().accounts().empty() ? std::string("No accounts yet")
                                                             : noMatchText(query))
                      << "\n";
        co_return 0;
    }
    std::vector<std::string> codes;
    std::size_t width = 0;
    for (const Account& account : shown) {
        codes.push_back(groupedCode(currentCode(account, now)));
        width = std::max(width, codes.back().size());
    }
    const bool withIDs = context.arguments().has("ids");
    for (std::size_t i = 0; i < shown.size(); ++i) {
        std::string code = codes[i];
        code.resize(width, ' ');
        std::string seconds = std::to_string(wholeSecondsLeft(shown[i], now)) + "s";
        seconds.insert(0, seconds.size() < 4 ? 4 - seconds.size() : 0, ' ');
        if (withIDs) {
            out << shown[i].id.toString() << "  ";
        }
        out << code << "  " << seconds << "  " << accountDescription(shown[i]) << "\n";
    }
    co_return 0;
}

// Several matches: the one whose issuer or label is the query itself, when there is one.
const Account* exactMatch(const std::vector<Account>& matches, std::string_view query) {
    const Account* found = nullptr;
    for (const Account& account : matches) {
        if (localizedCaseInsensitiveCompare(account.issuer, query) == 0 ||
            localizedCaseInsensitiveCompare(account.label, query) == 0) {
            if (found) {
                return nullptr;
            }
            found = &account;
        }
    }
    return found;
}

QCoro::Task<int> runCode(CommandContext& context) {
    co_await context.requireUnlocked();
    const std::string& query = context.arguments().positional.front();
    const std::vector<Account> matches = filterAccounts(context.store().accounts(), query);
    const Account* account = matches.size() == 1 ? &matches.front() : nullptr;
    if (matches.empty()) {
        throw CommandError(noMatchText(query));
    }
    if (!account) {
        account = exactMatch(matches, searchQuery(query));
    }
    if (!account) {
        std::string text = "Several accounts match \u201C" + searchQuery(query) + "\u201D:";
        for (const Account& match : matches) {
            text += "\n  " + match.id.toString() + "  " + accountDescription(match);
        }
        throw CommandError(text);
    }
    context.out() << currentCode(*account, context.now()) << "\n";
    co_return 0;
}

} // namespace

std::vector<Command> listCommands() {
    return {
        {
            .name = "list",
            .synopsis = "[--json] [--ids] [QUERY]",
            .summary = "Show the accounts with their current codes",
            .description =
                "QUERY keeps the accounts whose service, account name or one of whose websites\n"
                "contains it, ignoring letter case. Each line shows the code, the seconds it\n"
                "stays valid, and the account.",
            .options =
                {{"json",
                  false,
                  {},
                  "print id, issuer, label, color (palette or null), code and secondsLeft as "
                  "JSON"},
                 {"ids", false, {}, "start each line with the account's ID"}},
            .minimumArguments = 0,
            .maximumArguments = 1,
            .run = runList,
        },
        {
            .name = "code",
            .synopsis = "QUERY",
            .summary = "Print the current code of the one account that matches",
            .description =
                "QUERY is matched like \"list\" does. When several accounts match, the one whose\n"
                "service or account name is exactly QUERY is taken; otherwise the candidates are\n"
                "listed and nothing is printed.",
            .options = {},
            .minimumArguments = 1,
            .maximumArguments = 1,
            .run = runCode,
        },
    };
}

} // namespace tallowin
