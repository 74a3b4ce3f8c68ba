// SPDX-License-Identifier: GPL-3.0-or-later
// base32Decode and normalizedSecret must agree on every input, and the normalised key must
// be the canonical form: alphabet only, decoding to the same bytes, stable when normalised
// again.
#include "core/Base32.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto bytes = tallowin::base32Decode(text);
    const auto normalized = tallowin::normalizedSecret(text);
    if (bytes.has_value() != normalized.has_value()) {
        __builtin_trap();
    }
    if (!bytes) {
        return 0;
    }
    for (const char c : *normalized) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '2' && c <= '7'))) {
            __builtin_trap();
        }
    }
    if (bytes->empty() || bytes->size() != normalized->size() * 5 / 8 ||
        tallowin::base32Decode(*normalized) != bytes ||
        tallowin::normalizedSecret(*normalized) != normalized) {
        __builtin_trap();
    }
    return 0;
}
