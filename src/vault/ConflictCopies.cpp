// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/ConflictCopies.h"

#include <QRegularExpression>
#include <QString>

namespace tallowin {

namespace {
// A file name is at most 255 bytes; anything longer is not one of ours.
constexpr std::size_t kMaxFileNameBytes = 255;

// One per thread: the folders are read on worker threads, and a QRegularExpression may be
// used by one thread at a time only.
const QRegularExpression& conflictCopyPattern() {
    thread_local const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral(
            R"(vault(?:)"
            // Syncthing
            R"(\.sync-conflict-\d{8}-\d{6}(?:-[a-z0-9]+)?)"
            // Nextcloud, ownCloud
            R"(| \(conflicted copy (?:[^()/]+ )?\d{4}-\d{2}-\d{2} \d{6}\))"
            R"(|_conflict-\d{8}-\d{6})"
            // Dropbox
            R"(| \([^()/]+['’]s conflicted copy \d{4}-\d{2}-\d{2}(?: \(\d+\))?\)(?: \(\d+\))?)"
            R"()\.tlwvault)")),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}
} // namespace

bool isConflictCopyName(std::string_view fileName) {
    if (fileName.empty() || fileName.size() > kMaxFileNameBytes) {
        return false;
    }
    const QString name =
        QString::fromUtf8(fileName.data(), static_cast<qsizetype>(fileName.size()));
    return conflictCopyPattern().match(name).hasMatch();
}

} // namespace tallowin
