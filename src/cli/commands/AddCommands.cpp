// SPDX-License-Identifier: GPL-3.0-or-later
// add and import: accounts into the vault, through the same store operations and with the
// same result texts as the add-account sheet and the import of files opened with the
// application.
#include "cli/CommandContext.h"
#include "cli/Commands.h"
#include "cli/ResultTexts.h"
#include "core/Base32.h"
#include "core/FileIO.h"
#include "core/OTPAuthLink.h"
#include "core/Unicode.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <ostream>

namespace tallowin {

namespace {

constexpr std::string_view kInvalidKey =
    "The setup key should only contain letters A\u2013Z and digits 2\u20137.";

std::int64_t choice(const ParsedArguments& arguments, std::string_view name,
                    std::initializer_list<std::int64_t> allowed, std::int64_t fallback) {
    const std::optional<std::string> text = arguments.value(name);
    if (!text) {
        return fallback;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    const bool parsed = error == std::errc() && end == text->data() + text->size();
    if (!parsed || std::find(allowed.begin(), allowed.end(), value) == allowed.end()) {
        std::string list;
        for (const std::int64_t option : allowed) {
            list += (list.empty() ? "" : ", ") + std::to_string(option);
        }
        throw UsageError("--" + std::string(name) + " must be one of " + list);
    }
    return value;
}

// The draft of the "Enter Key" form, with the same choices and checks.
AccountDraft manualDraft(const ParsedArguments& arguments) {
    AccountDraft draft;
    draft.issuer = arguments.value("issuer").value_or("");
    draft.label = arguments.value("label").value_or("");
    draft.secret = arguments.value("secret").value_or("");
    if (!base32Decode(draft.secret)) {
        throw UsageError(std::string(kInvalidKey));
    }
    if (draft.issuer.empty() && draft.label.empty()) {
        throw UsageError("give the service (--issuer), the account name (--label), or both");
    }
    if (const std::optional<std::string> algorithm = arguments.value("algorithm")) {
        const std::string name = toUpper(*algorithm);
        if (name == "SHA1") {
            draft.algorithm = OTPAlgorithm::sha1;
        } else if (name == "SHA256") {
            draft.algorithm = OTPAlgorithm::sha256;
        } else if (name == "SHA512") {
            draft.algorithm = OTPAlgorithm::sha512;
        } else {
            throw UsageError("--algorithm must be one of SHA1, SHA256, SHA512");
        }
    }
    draft.digits = choice(arguments, "digits", {6, 7, 8}, 6);
    draft.period = choice(arguments, "period", {30, 60}, 30);
    return draft;
}

// Success when something was added, or when everything given is already there; the text goes
// to standard output then, and to standard error otherwise.
int reportAddResult(CommandContext& context, int added, int existing, int unreadable) {
    const std::string text = addResultText(added, existing, unreadable);
    if (added >= 1 || (existing >= 1 && unreadable == 0)) {
        context.out() << text << "\n";
        return 0;
    }
    context.err() << text << "\n";
    return 1;
}

QCoro::Task<int> runAdd(CommandContext& context) {
    const ParsedArguments& arguments = context.arguments();
    const bool manual = arguments.has("secret") || arguments.has("issuer") ||
                        arguments.has("label") || arguments.has("algorithm") ||
                        arguments.has("digits") || arguments.has("period");
    if (manual && !arguments.positional.empty()) {
        throw UsageError("give either links or --secret with its options, not both");
    }
    if (!manual && arguments.positional.empty()) {
        throw UsageError("give otpauth:// links, or --secret with --issuer or --label");
    }
    if (manual && !arguments.has("secret")) {
        throw UsageError("--secret is missing");
    }
    std::vector<AccountDraft> drafts;
    std::size_t unreadable = 0;
    if (manual) {
        drafts.push_back(manualDraft(arguments));
    } else {
        std::string text;
        for (const std::string& link : arguments.positional) {
            text += link;
            text += '\n';
        }
        ParsedOTPAuthLinks parsed = parseOTPAuthLinks(text);
        drafts = std::move(parsed.drafts);
        unreadable = parsed.failures;
    }

    co_await context.requireUnlocked();
    const AddResult result = context.store().addDrafts(drafts);
    const int status =
        reportAddResult(context, result.added, result.alreadyPresent, static_cast<int>(unreadable));
    co_await context.saveChanges();
    co_return status;
}

QCoro::Task<int> runImport(CommandContext& context) {
    struct Backup {
        std::filesystem::path file;
        Bytes bytes;
    };
    std::vector<Backup> backups;
    std::vector<std::filesystem::path> others;
    std::vector<std::filesystem::path> unreadable;
    for (const std::string& name : context.arguments().positional) {
        const std::filesystem::path file(name);
        Bytes bytes;
        if (readFile(file, bytes, kMaxVaultFileBytes)) {
            unreadable.push_back(file);
            others.push_back(file);
            continue;
        }
        try {
            (void)decodeEnvelope(bytes);
            backups.push_back({file, std::move(bytes)});
        } catch (const std::exception&) {
            others.push_back(file); // not a backup: read as a file of setup links
        }
    }

    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    int status = 0;
    for (Backup& backup : backups) {
        const std::string name = backup.file.native();
        std::string password = context.prompt().ask("Password of the backup " + name + ": ");
        try {
            const std::vector<Account> accounts =
                co_await store.openBackup(std::move(backup.bytes), std::move(password));
            const AddResult result = store.importAccounts(accounts);
            context.out() << name << ": " << addResultText(result.added, result.alreadyPresent, 0)
                          << "\n";
        } catch (const std::exception& error) {
            context.err() << name << ": " << errorText(error) << "\n";
            status = 1;
        }
    }
    if (!others.empty()) {
        store.setNotice(std::nullopt);
        store.addPendingImports(others);
        if (store.notice()) {
            context.out() << *store.notice() << "\n";
            store.setNotice(std::nullopt);
        }
        for (const std::filesystem::path& file : unreadable) {
            context.err() << file.native() << ": Couldn't read that file.\n";
            status = 1;
        }
    }
    co_await context.saveChanges();
    co_return status;
}

} // namespace

std::vector<Command> addCommands() {
    return {
        {
            .name = "add",
            .synopsis = "LINK... | --secret KEY (--issuer NAME | --label NAME) [--algorithm A] "
                        "[--digits N] [--period P]",
            .summary = "Add accounts from otpauth:// links or from a setup key",
            .description =
                "An account whose setup key is already in the vault is not added twice. Prints\n"
                "what happened, e.g. \"Added 1 account \u00B7 1 already in Tallowin\"; the status "
                "is 1\n"
                "when nothing was added and something given couldn't be read.",
            .options = {{"issuer", true, "NAME", "the service, e.g. GitHub"},
                        {"label", true, "NAME", "the account name, e.g. an e-mail address"},
                        {"secret", true, "KEY", "the setup key (base32)"},
                        {"algorithm", true, "A", "SHA1 (default), SHA256 or SHA512"},
                        {"digits", true, "N", "6 (default), 7 or 8"},
                        {"period", true, "P", "30 (default) or 60 seconds"}},
            .minimumArguments = 0,
            .maximumArguments = std::numeric_limits<std::size_t>::max(),
            .run = runAdd,
        },
        {
            .name = "import",
            .synopsis = "FILE...",
            .summary = "Import encrypted backups and files of setup links",
            .description =
                "A backup asks for the password it was exported with (with --password-stdin:\n"
                "one line per backup, after the master password when that is asked). Other files\n"
                "are read as text holding otpauth:// links, all together, and summed up in one\n"
                "line. The status is 1 when a backup or a file couldn't be opened.",
            .options = {},
            .minimumArguments = 1,
            .maximumArguments = std::numeric_limits<std::size_t>::max(),
            .run = runImport,
        },
    };
}

} // namespace tallowin
