// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tallowin {

/// Fewest characters a new master or backup password may have.
inline constexpr int kMinimumNewPasswordLength = 10;

/// Characters as the user sees them: extended grapheme clusters of the UTF-8 text.
[[nodiscard]] int characterCount(std::string_view text);

/// The four-step strength of a new password, 0 to 4: one point each for 10, 14 and 20
/// characters, and one for using at least three of the classes lower-case letters,
/// upper-case letters, decimal digits, and punctuation or symbols.
[[nodiscard]] int passwordStrength(std::string_view password);

} // namespace tallowin
