// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Account.h"
#include "core/Date.h"
#include "core/OTPAlgorithm.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tallowin {

/// The longest row of hyphens `currentCode` shows for an invalid secret: the row mirrors the
/// stored digit count, but a damaged vault must not make it allocate without bound.
inline constexpr std::int64_t kMaxPlaceholderLength = 16;

/// RFC 6238 TOTP value for one time step: HMAC of the big-endian counter keyed with the
/// secret as it is (any length), RFC 4226 dynamic truncation, `digits` clamped to 6...9,
/// zero-padded. Never fails.
[[nodiscard]] std::string totpCode(std::span<const std::uint8_t> secret, std::uint64_t counter,
                                   OTPAlgorithm algorithm, std::int64_t digits);

/// The time step of `time`: seconds since 1970 (0 when negative or not a number) divided by
/// the period (at least 1), truncated. Saturates at the largest counter for absurdly far
/// future times.
[[nodiscard]] std::uint64_t totpCounter(std::int64_t period, Date time);

/// The code shown for `time`; for a secret that isn't valid Base32, a row of `digits`
/// hyphens (the stored count, none when 0 or less, at most kMaxPlaceholderLength).
[[nodiscard]] std::string currentCode(std::string_view secret, OTPAlgorithm algorithm,
                                      std::int64_t digits, std::int64_t period, Date time);
[[nodiscard]] std::string currentCode(const Account& account, Date time);
[[nodiscard]] std::string currentCode(const AccountDraft& draft, Date time);

/// For display: texts of 5 or more characters split after the first half (rounded down)
/// with one space, "123456" -> "123 456", "1234567" -> "123 4567"; shorter texts unchanged.
[[nodiscard]] std::string groupedCode(std::string_view code);

/// Seconds left in the time step holding `time`, in (0, period]; the period is at least 1.
/// Times before 1970 (or not a number) count as 1970, like the code itself.
[[nodiscard]] double secondsRemaining(std::int64_t period, Date time);

} // namespace tallowin

namespace tallowin {

/// Codes of one key for many counters (the extension reply sends twenty per account):
/// the HMAC key pads are absorbed once, so each code costs two hash compressions.
/// Gives exactly what totpCode gives for the same arguments.
class TotpGenerator {
public:
    TotpGenerator(std::span<const std::uint8_t> secret, OTPAlgorithm algorithm,
                  std::int64_t digits);
    ~TotpGenerator();
    TotpGenerator(const TotpGenerator&) = delete;
    TotpGenerator& operator=(const TotpGenerator&) = delete;

    [[nodiscard]] std::string code(std::uint64_t counter);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tallowin
