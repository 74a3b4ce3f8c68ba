// SPDX-License-Identifier: GPL-3.0-or-later
// The records read back from keychain items (written by any process of the user) and the
// shared settings file: decoding must never crash, hang or blow up.
#include "core/DeviceKeyStore.h"
#include "core/SharedDefaults.h"
#include "core/UnlockSession.h"
#include "core/VaultJSON.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowin;
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        const auto stored = DeviceKeyStore::Stored::decode(bytes);
        if (stored.key.size() != 32 ||
            DeviceKeyStore::Stored::decode(stored.encode().span()) != stored) {
            __builtin_trap();
        }
    } catch (const JSONDecodeError&) {
    }
    try {
        const auto stored = UnlockSession::Stored::decode(bytes);
        if (UnlockSession::Stored::decode(stored.encode().span()) != stored) {
            __builtin_trap();
        }
    } catch (const JSONDecodeError&) {
    }
    const Json settings =
        parseSharedDefaults(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!settings.is_object()) {
        __builtin_trap();
    }
    (void)settings.dump(); // what a write would do with the members it keeps
    return 0;
}
