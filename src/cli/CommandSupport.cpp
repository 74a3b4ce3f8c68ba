// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandSupport.h"

#include "cli/CommandLine.h"
#include "core/Unicode.h"

#include <QDateTime>
#include <cmath>

namespace tallowin {

namespace {
constexpr std::size_t kShortestIDPrefix = 4;
}

const Account& accountWithID(const std::vector<Account>& accounts, std::string_view text) {
    const std::string wanted = toUpper(text);
    if (wanted.size() < kShortestIDPrefix) {
        throw CommandError("Give at least " + std::to_string(kShortestIDPrefix) +
                           " characters of the account's ID.");
    }
    const Account* found = nullptr;
    for (const Account& account : accounts) {
        const std::string id = account.id.toString();
        if (id == wanted) {
            return account;
        }
        if (id.starts_with(wanted)) {
            if (found) {
                throw CommandError("Several accounts have an ID starting with " +
                                   std::string(text) + ".");
            }
            found = &account;
        }
    }
    if (!found) {
        throw CommandError("No account has the ID " + std::string(text) + ".");
    }
    return *found;
}

std::string accountDescription(const Account& account) {
    std::string text = displayTitle(account);
    if (!account.issuer.empty() && !account.label.empty()) {
        text += " (" + account.label + ")";
    }
    return text;
}

std::string localDateTime(Date date) {
    const double milliseconds = std::round(date.unixTime() * 1000);
    // QDateTime covers far more than this; the bound keeps the conversion defined.
    if (!(std::fabs(milliseconds) < 1e17)) {
        return "unknown";
    }
    const QDateTime time =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(milliseconds)).toLocalTime();
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString()
                          : "unknown";
}

} // namespace tallowin
