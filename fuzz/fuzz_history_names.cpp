// SPDX-License-Identifier: GPL-3.0-or-later
// File names found in the synced folders: history versions and conflict copies.
#include "vault/ConflictCopies.h"
#include "vault/Snapshot.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    (void)tallowin::isConflictCopyName(name);
    if (name.find('\0') != std::string::npos) {
        return 0; // no file name holds one
    }
    if (const auto snapshot = tallowin::parseSnapshotName(std::filesystem::path("/h") / name)) {
        // A stamp that parses formats back to itself.
        const std::string real = snapshot->url.filename().string();
        if (real.compare(6, 16, tallowin::historyStamp(snapshot->date)) != 0) {
            std::abort();
        }
    }
    return 0;
}
