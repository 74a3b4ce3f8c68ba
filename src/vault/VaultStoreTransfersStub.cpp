// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder for import, export and history until they are written: it only lets the
// store link. Pending imports are kept and never imported.
#include "vault/VaultStore.h"

#include <stdexcept>

namespace tallowin {

void VaultStore::addPendingImports(std::vector<std::filesystem::path> files) {
    pendingImports_.insert(pendingImports_.end(), files.begin(), files.end());
}

void VaultStore::importPendingFiles() {}

AddResult VaultStore::importAccounts(const std::vector<Account>&) {
    return {};
}

QCoro::Task<std::vector<Account>> VaultStore::openBackup(Bytes, std::string) {
    throw std::logic_error("openBackup is not available yet");
    co_return {};
}

QCoro::Task<Bytes> VaultStore::exportBackup(std::string) {
    throw std::logic_error("exportBackup is not available yet");
    co_return {};
}

std::string VaultStore::setupLinksText() const {
    return {};
}

QCoro::Task<std::vector<Snapshot>> VaultStore::listSnapshots() {
    co_return {};
}

QCoro::Task<std::vector<Account>> VaultStore::snapshotAccounts(Snapshot) {
    co_return {};
}

int VaultStore::restoreVersion(const std::vector<Account>&) {
    return 0;
}

std::string VaultStore::defaultBackupName(Date) {
    return {};
}

} // namespace tallowin
