// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes one account record; whatever decodes must encode to a form that decodes to
// the same account and encodes to the same text again.
#include "core/Account.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {
std::string encode(const tallowin::Account& account) {
    return tallowin::encodeVaultJSON(tallowin::accountToJSON(account));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowin;
    Account account;
    try {
        account = accountFromJSON(
            parseVaultJSON(std::string_view(reinterpret_cast<const char*>(data), size)));
    } catch (const JSONDecodeError&) {
        return 0;
    }
    const std::string text = encode(account);
    Account again;
    try {
        again = accountFromJSON(parseVaultJSON(text));
    } catch (const JSONDecodeError&) {
        __builtin_trap(); // an encoded account must always decode
    }
    if (!(again == account) || encode(again) != text) {
        __builtin_trap();
    }
    return 0;
}
