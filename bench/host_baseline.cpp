// SPDX-License-Identifier: GPL-3.0-or-later
// Baseline for the host start-up benchmark: linked with the host's libraries, does nothing.
// The calls below are never made; they only keep the same libraries loaded at start.

#include "browser/ExtensionHandler.h"
#include "platform/SecretServiceKeychain.h"

int main(int argc, char**) {
    if (argc > 1000) {
        tallowin::SecretServiceKeychain keychain;
        return static_cast<int>(tallowin::errorReply("a", "b").size());
    }
    return 0;
}
