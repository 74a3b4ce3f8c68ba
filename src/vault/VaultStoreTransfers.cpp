// SPDX-License-Identifier: GPL-3.0-or-later
// The store's import, export and history operations: files of setup links handed to the
// application, encrypted backups in and out, the plain setup-links export, and the
// version history with restore.
#include "core/FileIO.h"
#include "core/OTPAuthLink.h"
#include "core/PercentEncoding.h"
#include "core/VaultError.h"
#include "vault/VaultStore.h"

#include <QCoroFuture>
#include <QFuture>
#include <QtConcurrent/qtconcurrenttask.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <openssl/crypto.h>

namespace tallowin {

namespace {

// Backup work goes before history work in the worker pool's queue.
constexpr int kUserInitiatedPriority = 1;

// Largest setup-links file read; anything bigger counts as a file that couldn't be opened.
constexpr std::size_t kMaxLinksFileBytes = 16u << 20;

constexpr std::string_view kNoticeSeparator = " \u00B7 ";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Overwrites the whole buffer, including what a move left behind in a short string.
void wipe(std::string& text) {
    text.resize(text.capacity());
    OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}

std::string counted(std::size_t count, std::string_view noun) {
    std::string text = std::to_string(count);
    text += ' ';
    text += noun;
    if (count != 1) {
        text += 's';
    }
    return text;
}

// The text of one file handed to the application, or none when it can't be read as UTF-8.
std::optional<std::string> readLinksFile(const std::filesystem::path& file) {
    Bytes bytes;
    if (readFile(file, bytes, kMaxLinksFileBytes)) {
        return std::nullopt;
    }
    std::string text = toString(bytes);
    if (!isValidUTF8(text)) {
        return std::nullopt;
    }
    if (text.starts_with(kByteOrderMark)) {
        text.erase(0, kByteOrderMark.size());
    }
    return text;
}

template <typename Value> struct Outcome {
    std::exception_ptr error;
    Value value{};

    Value take() {
        if (error) {
            std::rethrow_exception(error);
        }
        return std::move(value);
    }
};

// The background jobs. They are started outside the coroutines so that no lambda or other
// temporary lives in a co_await expression (GCC 12 destroys some of those twice).
template <typename Value, typename Job> QFuture<Outcome<Value>> runInBackground(Job job) {
    return QtConcurrent::task([job = std::move(job)]() mutable {
               Outcome<Value> outcome;
               try {
                   outcome.value = job();
               } catch (...) {
                   outcome.error = std::current_exception();
               }
               return outcome;
           })
        .withPriority(kUserInitiatedPriority)
        .spawn();
}

QFuture<Outcome<std::vector<Account>>> openBackupInBackground(Bytes bytes, std::string password) {
    return runInBackground<std::vector<Account>>(
        [bytes = std::move(bytes), password = std::move(password)]() mutable {
            struct Wipe {
                std::string& text;
                ~Wipe() { wipe(text); }
            } wipeAfterwards{password};
            const VaultEnvelope envelope = decodeEnvelope(bytes);
            const VaultKey key = unwrapVaultKey(envelope, password);
            return openContents(envelope, key);
        });
}

QFuture<Outcome<Bytes>> makeBackupInBackground(std::vector<Account> accounts, std::string password,
                                               std::string device, Date now, RandomSource& random,
                                               std::int64_t iterations) {
    return runInBackground<Bytes>([accounts = std::move(accounts), password = std::move(password),
                                   device = std::move(device), now, &random, iterations]() mutable {
        struct Wipe {
            std::string& text;
            ~Wipe() { wipe(text); }
        } wipeAfterwards{password};
        return makeBackup(accounts, password, device, now, random, iterations);
    });
}

AccountDraft draftOf(const Account& account) {
    return {account.issuer,    account.label,  account.secret,
            account.algorithm, account.digits, account.period};
}

} // namespace

void VaultStore::addPendingImports(std::vector<std::filesystem::path> files) {
    pendingImports_.insert(pendingImports_.end(), std::make_move_iterator(files.begin()),
                           std::make_move_iterator(files.end()));
    importPendingFiles();
}

void VaultStore::importPendingFiles() {
    if (phase_.kind != Phase::unlocked || pendingImports_.empty()) {
        return;
    }
    const std::vector<std::filesystem::path> files = std::move(pendingImports_);
    pendingImports_.clear();

    std::vector<AccountDraft> drafts;
    std::size_t failedLinks = 0;
    std::size_t failedFiles = 0;
    for (const std::filesystem::path& file : files) {
        const std::optional<std::string> text = readLinksFile(file);
        if (!text) {
            ++failedFiles;
            continue;
        }
        ParsedOTPAuthLinks parsed = parseOTPAuthLinks(*text);
        drafts.insert(drafts.end(), std::make_move_iterator(parsed.drafts.begin()),
                      std::make_move_iterator(parsed.drafts.end()));
        failedLinks += parsed.failures;
    }

    const AddResult result = addDrafts(drafts);

    std::string notice = "Imported " + counted(static_cast<std::size_t>(result.added), "account");
    if (result.alreadyPresent > 0) {
        notice += kNoticeSeparator;
        notice += std::to_string(result.alreadyPresent) + " already added";
    }
    if (failedLinks > 0) {
        notice += kNoticeSeparator;
        notice += counted(failedLinks, "link") + " couldn't be read";
    }
    if (failedFiles > 0) {
        notice += kNoticeSeparator;
        notice += counted(failedFiles, "file") + " couldn't be opened";
    }
    setNotice(std::move(notice));
}

AddResult VaultStore::importAccounts(const std::vector<Account>& accounts) {
    std::vector<AccountDraft> drafts;
    drafts.reserve(accounts.size());
    for (const Account& account : accounts) {
        if (!isDeleted(account)) {
            drafts.push_back(draftOf(account));
        }
    }
    return addDrafts(drafts);
}

QCoro::Task<std::vector<Account>> VaultStore::openBackup(Bytes bytes, std::string password) {
    const QFuture<Outcome<std::vector<Account>>> job =
        openBackupInBackground(std::move(bytes), std::move(password));
    wipe(password);
    Outcome<std::vector<Account>> outcome = co_await job;
    co_return outcome.take();
}

QCoro::Task<Bytes> VaultStore::exportBackup(std::string password) {
    const QFuture<Outcome<Bytes>> job = makeBackupInBackground(
        accounts_, std::move(password), env_.computerName, now(), *env_.random, env_.kdfIterations);
    track(QFuture<void>(job)); // it uses the random source, which must outlive it
    wipe(password);
    Outcome<Bytes> outcome = co_await job;
    co_return outcome.take();
}

std::string VaultStore::setupLinksText() const {
    return tallowin::setupLinksText(accounts_);
}

QCoro::Task<std::vector<Snapshot>> VaultStore::listSnapshots() {
    co_return co_await storage_->listSnapshots();
}

QCoro::Task<std::vector<Account>> VaultStore::snapshotAccounts(Snapshot snapshot) {
    if (!key_) {
        throw VaultError(VaultError::keyUnavailable);
    }
    // The key may be dropped by a lock while the file is read; the version opens with the
    // key that was there when it was asked for.
    const VaultKey key = *key_;
    const Bytes bytes = co_await storage_->readSnapshot(std::move(snapshot.url));
    co_return openContents(decodeEnvelope(bytes), key);
}

int VaultStore::restoreVersion(const std::vector<Account>& versionAccounts) {
    if (!key_) {
        return 0; // nothing to restore into while locked
    }
    const Date stamp = now();
    const std::string device = deviceID();
    int count = 0;
    for (const Account& version : versionAccounts) {
        if (isDeleted(version)) {
            continue;
        }
        Account copy = version;
        copy.updatedAt = stamp;
        copy.updatedBy = device;
        const auto existing = std::find_if(all_.begin(), all_.end(),
                                           [&](const Account& a) { return a.id == version.id; });
        if (existing == all_.end()) {
            all_.push_back(std::move(copy));
            ++count;
            continue;
        }
        Account unchanged = *existing;
        unchanged.updatedAt = version.updatedAt;
        unchanged.updatedBy = version.updatedBy;
        if (unchanged == version) {
            continue;
        }
        *existing = std::move(copy);
        ++count;
    }
    publish();
    startSync();
    return count;
}

std::string VaultStore::defaultBackupName(Date now) {
    using namespace std::chrono;
    // Dates far outside the calendar's range (or not a number) are held to its ends.
    constexpr double kLimit = 1e13; // about 317,000 years either side of 1970
    double unix = std::floor(now.unixTime());
    if (!(unix > -kLimit)) {
        unix = -kLimit;
    } else if (unix > kLimit) {
        unix = kLimit;
    }
    const auto day = floor<days>(sys_seconds(seconds(static_cast<std::int64_t>(unix))));
    const year_month_day date(day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return std::string("Tallowin Backup ") + text;
}

} // namespace tallowin
