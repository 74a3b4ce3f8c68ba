// SPDX-License-Identifier: GPL-3.0-or-later
// Reads untrusted bytes as a vault file and opens it with a fixed data key. The seeds are
// envelopes sealed with that key, so mutations reach the contents decoder as well.
// Beyond not crashing, every envelope read must equal what the plain JSON parser reads
// and must survive writing and reading again.

#include "core/VaultEnvelope.h"
#include "core/VaultError.h"

#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

using namespace tallowin;

namespace {

constexpr const char* kFixedKeyID = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F0";

VaultKey fixedKey() {
    VaultKey key;
    key.id = kFixedKeyID;
    key.key = SecretBytes(32);
    for (std::size_t i = 0; i < 32; ++i) {
        key.key.data()[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    return key;
}

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

/// Values (keys included) in a parsed document, counted without recursion.
std::size_t countValues(const Json& root) {
    std::size_t count = 0;
    std::vector<const Json*> pending{&root};
    while (!pending.empty()) {
        const Json* value = pending.back();
        pending.pop_back();
        ++count;
        if (value->is_object()) {
            for (const auto& [name, member] : value->items()) {
                ++count;
                pending.push_back(&member);
            }
        } else if (value->is_array()) {
            for (const Json& element : *value) {
                pending.push_back(&element);
            }
        }
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const VaultKey key = fixedKey();
    const std::span<const std::uint8_t> input(data, size);

    // The same document read by the plain parser, as a reference.
    std::optional<Json> json;
    std::optional<VaultEnvelope> reference;
    try {
        json = parseVaultJSON(std::string_view(reinterpret_cast<const char*>(data), size));
        reference = envelopeFromJSON(*json);
    } catch (const JSONDecodeError&) {
    }

    VaultEnvelope envelope;
    try {
        envelope = decodeEnvelope(input);
    } catch (const VaultError& error) {
        if (error.code() == VaultError::unsupportedFormat) {
            require(reference && reference->version >= 2);
        } else {
            require(error.code() == VaultError::corrupted);
            require(!reference || countValues(*json) > kMaxEnvelopeJSONValues);
        }
        return 0;
    }
    require(reference && *reference == envelope && envelope.version <= 1);
    require(decodeEnvelope(encodeEnvelope(envelope)) == envelope);

    try {
        const std::vector<Account> accounts = openContents(envelope, key);
        require(decodeContents(encodeContents({accounts}).span()).accounts == accounts);
    } catch (const VaultError& error) {
        require(error.code() == VaultError::foreignVault || error.code() == VaultError::corrupted);
    } catch (const JSONDecodeError&) {
    }
    return 0;
}
