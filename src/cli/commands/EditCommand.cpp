// SPDX-License-Identifier: GPL-3.0-or-later
// edit: the service, account name and card colour of one account, saved as the edit sheet's
// "Save" does (the store stamps the change and syncs it to the other computers).
#include "cli/CommandContext.h"
#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "core/CardPalette.h"

#include <charconv>
#include <ostream>

namespace tallowin {

namespace {

/// Spaces and tabs (not line breaks) cut from both ends, as for a new account's names.
std::string trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

/// The palette id of `--colour`: 0...11, or none for "auto".
std::optional<std::int64_t> colourChoice(const std::string& text) {
    if (text == "auto") {
        return std::nullopt;
    }
    int value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 ||
        value >= static_cast<int>(kCardPaletteCount)) {
        throw UsageError("--colour must be a palette number from 0 to " +
                         std::to_string(kCardPaletteCount - 1) + ", or auto");
    }
    return value;
}

QCoro::Task<int> runEdit(CommandContext& context) {
    const ParsedArguments& arguments = context.arguments();
    const std::optional<std::string> issuer = arguments.value("issuer");
    const std::optional<std::string> label = arguments.value("label");
    const std::optional<std::string> colour = arguments.value("colour");
    if (!issuer && !label && !colour) {
        throw UsageError("give --issuer, --label or --colour");
    }
    const std::optional<std::int64_t> chosenColour =
        colour ? colourChoice(*colour) : std::optional<std::int64_t>();

    co_await context.requireUnlocked();
    VaultStore& store = context.store();
    Account edited = accountWithID(store.accounts(), arguments.positional.front());
    if (issuer) {
        edited.issuer = trimmed(*issuer);
    }
    if (label) {
        edited.label = trimmed(*label);
    }
    if (edited.issuer.empty() && edited.label.empty()) {
        throw UsageError("an account keeps a service (--issuer) or an account name (--label)");
    }
    if (colour) {
        edited.color = chosenColour;
    }
    store.updateAccount(edited);

    std::ostream& out = context.out();
    out << "Saved " << accountDescription(edited);
    if (colour) {
        out << ", colour " << palette(edited).name << (chosenColour ? "" : " (automatic)");
    }
    out << ".\n";
    co_await context.saveChanges();
    co_return 0;
}

} // namespace

std::vector<Command> editCommands() {
    return {
        {
            .name = "edit",
            .synopsis = "ID [--issuer TEXT] [--label TEXT] [--colour N|auto]",
            .summary = "Change an account's service, account name or card colour",
            .description =
                "ID is the account's ID as \"list --ids\" shows it, or its first characters\n"
                "(at least 4). Spaces and tabs around the names are dropped; the service and the\n"
                "account name may not both end up empty. When another computer changes the same\n"
                "account too, the later change wins.",
            .options = {{"issuer", true, "TEXT", "the service, e.g. GitHub"},
                        {"label", true, "TEXT", "the account name, e.g. an e-mail address"},
                        {"colour", true, "N|auto",
                         "card palette 0 (Coral) to 11 (Graphite), or auto"}},
            .minimumArguments = 1,
            .maximumArguments = 1,
            .run = runEdit,
        },
    };
}

} // namespace tallowin
