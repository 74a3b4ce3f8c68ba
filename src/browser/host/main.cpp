// SPDX-License-Identifier: GPL-3.0-or-later
// TallowinChromeHost: the native-messaging host that Chromium-family browsers and
// Firefox start for the Tallowin extension. Reads framed JSON requests on standard
// input, answers each on standard output, strictly in order, and exits with status 0
// when the browser closes the connection or sends anything malformed.

#include "browser/ExtensionHandler.h"
#include "browser/NativeMessaging.h"
#include "core/SharedConfiguration.h"
#include "platform/LinuxBiometrics.h"
#include "platform/SecretServiceKeychain.h"

#include <csignal>
#include <unistd.h>

int main() {
    using namespace tallowin;
    // A browser that closes the pipe must not kill us mid-write; the write just fails.
    std::signal(SIGPIPE, SIG_IGN);

    SecretServiceKeychain keychain;
    LinuxBiometrics biometrics;
    const ExtensionEnvironment environment{
        .sharedDirectory = sharedDirectory(),
        .defaults = &sharedDefaults(),
        .keychain = &keychain,
        .biometrics = &biometrics,
        .clock = &systemClock(),
    };
    FileDescriptorSource input(STDIN_FILENO);
    FileDescriptorSink output(STDOUT_FILENO);
    while (const auto request = readMessage(input)) {
        if (!writeMessage(output, handleExtensionMessage(*request, environment))) {
            break;
        }
    }
    return 0;
}
