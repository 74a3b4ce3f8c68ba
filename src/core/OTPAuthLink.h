// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Account.h"

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

/// Why an otpauth:// link couldn't be read, each case with its fixed user-facing message.
class OTPAuthError : public std::exception {
public:
    enum Code {
        /// The link's type (its host, lower-cased) isn't "totp"; see type().
        unsupportedType,
        notOTPAuth,
        invalidSecret,
    };

    /// `type` is the payload of unsupportedType ("unknown" when empty); ignored otherwise.
    explicit OTPAuthError(Code code, std::string type = {});

    [[nodiscard]] Code code() const noexcept { return code_; }
    /// The lower-cased type of an unsupportedType error; empty for the other cases.
    [[nodiscard]] const std::string& type() const noexcept { return type_; }
    [[nodiscard]] const std::string& message() const noexcept { return message_; }
    [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

    friend bool operator==(const OTPAuthError& a, const OTPAuthError& b) {
        return a.code_ == b.code_ && a.type_ == b.type_;
    }

private:
    Code code_;
    std::string type_;
    std::string message_;
};

/// Reads one `otpauth://totp/...` link (surrounding white space ignored) into a draft.
/// Scheme, type and parameter names are case-insensitive; a bad `algorithm`, `digits` or
/// `period` falls back to SHA1, 6 and 30. A link that isn't valid RFC 3986 is read once
/// more with its spaces, non-ASCII bytes and other characters that a URL can't hold
/// percent-encoded, so hand-typed and IRI-style links are accepted too.
/// Fails with OTPAuthError: notOTPAuth, then unsupportedType, then invalidSecret.
[[nodiscard]] AccountDraft parseOTPAuthLink(std::string_view text);

struct ParsedOTPAuthLinks {
    std::vector<AccountDraft> drafts; ///< in text order
    std::size_t failures = 0;         ///< pieces that looked like links but didn't parse
};

/// Reads every white-space separated piece that starts with "otpauth://" (any case).
/// Other pieces are skipped without counting. Never fails.
[[nodiscard]] ParsedOTPAuthLinks parseOTPAuthLinks(std::string_view text);

/// The account as an `otpauth://totp/` link: path "/issuer:label" (the label alone when
/// there is no issuer), query secret, algorithm, digits, period and, when set, issuer.
/// Every link it makes reads back through parseOTPAuthLink to the same issuer, label,
/// secret, algorithm, digits and period (issuer and label taken as trimmed of spaces and
/// tabs, as makeAccount leaves them).
[[nodiscard]] std::string setupLink(const Account& account);

/// The setup-links file: one setupLink per account, each ended by a line feed; "\n" for
/// an empty list.
[[nodiscard]] std::string setupLinksText(const std::vector<Account>& accounts);

} // namespace tallowin
