// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/VaultStore.h"

#include "core/DeviceKeyStore.h"
#include "core/PasswordPolicy.h"
#include "core/SharedConfiguration.h"
#include "core/UnlockSession.h"
#include "core/VaultError.h"
#include "core/VaultJSON.h"

#include <QStringList>
#include <QVariantMap>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace tallowin {

std::string hostComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
        return name;
    }
    return "Mac";
}

std::string errorText(const std::exception& error) {
    if (const auto* vaultError = dynamic_cast<const VaultError*>(&error)) {
        return std::string(VaultError::message(vaultError->code()));
    }
    // Contents that decrypt but do not decode are a damaged file to the user.
    if (dynamic_cast<const JSONDecodeError*>(&error)) {
        return std::string(VaultError::message(VaultError::corrupted));
    }
    if (const auto* systemError = dynamic_cast<const std::system_error*>(&error)) {
        return systemError->code().message();
    }
    return error.what();
}

VaultStore::VaultStore(VaultStoreEnvironment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {
    if (!env_.defaults || !env_.keychain || !env_.biometrics) {
        throw std::invalid_argument("VaultStore needs settings, a keychain and biometrics");
    }
    if (!env_.clock) {
        env_.clock = &systemClock();
    }
    if (!env_.random) {
        env_.random = &systemRandom();
    }
    if (env_.computerName.empty()) {
        env_.computerName = hostComputerName();
    }
    storage_ = std::make_unique<VaultStorage>(env_.sharedDirectory, env_.cloudDrive, env_.timeZone);
    deviceKeys_ = std::make_unique<DeviceKeyStore>(*env_.keychain, *env_.biometrics);
    session_ = std::make_unique<UnlockSession>(*env_.keychain, *env_.defaults, *env_.clock);
    policy_ = std::make_unique<PasswordPolicy>(*env_.defaults, *deviceKeys_, *env_.biometrics,
                                               *env_.clock);
}

VaultStore::~VaultStore() {
    // Background work holds references to the keychain, the biometrics and the random source.
    for (QFuture<void>& job : jobs_) {
        job.waitForFinished();
    }
}

void VaultStore::track(const QFuture<void>& job) {
    std::erase_if(jobs_, [](const QFuture<void>& done) { return done.isFinished(); });
    jobs_.push_back(job);
}

void VaultStore::setErrorMessage(std::optional<std::string> message) {
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
}

void VaultStore::setNotice(std::optional<std::string> notice) {
    notice_ = std::move(notice);
    emit noticeChanged();
}

QString VaultStore::qmlErrorMessage() const {
    return errorMessage_ ? QString::fromStdString(*errorMessage_) : QString();
}

void VaultStore::setQmlErrorMessage(const QString& message) {
    setErrorMessage(message.isEmpty() ? std::nullopt
                                      : std::optional<std::string>(message.toStdString()));
}

QString VaultStore::qmlNotice() const {
    return notice_ ? QString::fromStdString(*notice_) : QString();
}

namespace {
double javaScriptDate(Date date) {
    return date.unixTime() * 1000.0;
}

QVariantList accountMaps(const std::vector<Account>& accounts) {
    QVariantList list;
    list.reserve(static_cast<qsizetype>(accounts.size()));
    for (const Account& account : accounts) {
        QStringList websites;
        for (const std::string& site : account.websites) {
            websites.push_back(QString::fromStdString(site));
        }
        QVariantMap map{
            {QStringLiteral("id"), QString::fromStdString(account.id.toString())},
            {QStringLiteral("issuer"), QString::fromStdString(account.issuer)},
            {QStringLiteral("label"), QString::fromStdString(account.label)},
            {QStringLiteral("title"), QString::fromStdString(displayTitle(account))},
            {QStringLiteral("algorithm"),
             QString::fromLatin1(rawValue(account.algorithm).data(),
                                 static_cast<qsizetype>(rawValue(account.algorithm).size()))},
            {QStringLiteral("digits"), static_cast<qint64>(account.digits)},
            {QStringLiteral("period"), static_cast<qint64>(account.period)},
            {QStringLiteral("websites"), websites},
            {QStringLiteral("createdAt"), javaScriptDate(account.createdAt)},
            {QStringLiteral("updatedAt"), javaScriptDate(account.updatedAt)},
        };
        if (account.color) {
            map.insert(QStringLiteral("color"), static_cast<qint64>(*account.color));
        }
        if (account.deletedAt) {
            map.insert(QStringLiteral("deletedAt"), javaScriptDate(*account.deletedAt));
        }
        list.push_back(map);
    }
    return list;
}
} // namespace

double VaultStore::qmlLastSynced() const {
    return lastSynced_ ? javaScriptDate(*lastSynced_) : 0.0;
}

QVariantList VaultStore::qmlAccounts() const {
    return accountMaps(accounts_);
}

QVariantList VaultStore::qmlRecentlyDeleted() const {
    return accountMaps(recentlyDeleted_);
}

void VaultStore::setPhase(Phase phase) {
    phase_ = phase;
    emit phaseChanged();
    if (phase_.kind == Phase::unlocked) {
        importPendingFiles();
    }
}

void VaultStore::setSyncStatus(SyncStatus status) {
    syncStatus_ = std::move(status);
    emit syncStatusChanged();
}

void VaultStore::setLastSynced(Date date) {
    lastSynced_ = date;
    emit lastSyncedChanged();
}

bool VaultStore::localVaultExists() const {
    std::error_code error;
    return std::filesystem::exists(storage_->localVaultURL(), error);
}

Date VaultStore::now() const {
    return env_.clock->now();
}

std::string VaultStore::deviceID() {
    if (deviceID_.empty()) {
        deviceID_ = currentDeviceID(*env_.defaults, *env_.random);
    }
    return deviceID_;
}

bool VaultStore::usesCloud() const {
    return storage_->isCloudAvailable();
}

bool VaultStore::isWaitingForCloud() const {
    return !storage_->isCloudAvailable() && storage_->isResolving();
}

} // namespace tallowin
