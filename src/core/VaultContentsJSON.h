// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The contents JSON ({"accounts":[...]}) read and written straight from and into text,
// without building a JSON tree: a vault of a thousand accounts is opened or saved in a
// fraction of the time the tree takes. Each direction has a tree-based counterpart that
// defines its behaviour; the quick ones give exactly the same results.

#include "core/Account.h"
#include "core/Bytes.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tallowin {

/// Nesting allowed inside a value that the quick reader skips (an unknown key's value);
/// deeper documents are left to the tree reader.
inline constexpr std::size_t kMaxSkippedJSONDepth = 64;

/// Reads contents JSON in one pass. Gives the accounts, or fails with the same
/// JSONDecodeError (same message) as readContentsJSONTree, for every document it takes.
/// Gives nothing for a document it leaves to the tree reader: one whose top level is not
/// an object, one it does not read as valid JSON (the tree reader decides), one with a
/// skipped value nested deeper than kMaxSkippedJSONDepth, or one with a number beyond
/// the range of a double.
[[nodiscard]] std::optional<std::vector<Account>> readContentsJSONQuickly(std::string_view text);

/// Reads contents JSON through the tree: parseVaultJSON, then accountFromJSON for each
/// element of "accounts". Fails with JSONDecodeError.
[[nodiscard]] std::vector<Account> readContentsJSONTree(std::string_view text);

/// Writes contents JSON straight into a wiped buffer: byte for byte what
/// writeContentsJSONTree gives.
[[nodiscard]] SecretBytes writeContentsJSON(std::span<const Account> accounts);

/// Writes contents JSON through the tree: accountToJSON for each account, then
/// encodeVaultJSON of {"accounts": [...]}.
[[nodiscard]] SecretBytes writeContentsJSONTree(std::span<const Account> accounts);

} // namespace tallowin
