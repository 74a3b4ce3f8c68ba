// SPDX-License-Identifier: GPL-3.0-or-later
// Reads any text as a block of otpauth links. Every draft read must survive the trip
// through an account and its setup link unchanged.
#include "core/OTPAuthLink.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {
/// A fixed source: the account id plays no part in the link.
class ZeroRandom : public tallowin::RandomSource {
public:
    void fill(std::span<std::uint8_t> bytes) override {
        for (auto& b : bytes) {
            b = 0;
        }
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const tallowin::ParsedOTPAuthLinks parsed = tallowin::parseOTPAuthLinks(text);
    ZeroRandom random;
    for (const tallowin::AccountDraft& draft : parsed.drafts) {
        const tallowin::Account account =
            tallowin::makeAccount(draft, "FUZZ", tallowin::Date{}, random);
        tallowin::AccountDraft again;
        try {
            again = tallowin::parseOTPAuthLink(tallowin::setupLink(account));
        } catch (const tallowin::OTPAuthError&) {
            __builtin_trap();
        }
        // makeAccount trims issuer and label of spaces and tabs; the rest must come back.
        if (again.secret != draft.secret || again.algorithm != draft.algorithm ||
            again.digits != draft.digits || again.period != draft.period ||
            again.issuer != account.issuer || again.label != account.label) {
            __builtin_trap();
        }
    }
    // The single-link reader on the whole input must only ever fail with its own error.
    try {
        (void)tallowin::parseOTPAuthLink(text);
    } catch (const tallowin::OTPAuthError&) {
    }
    return 0;
}
