// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Bytes.h"
#include "platform/KeychainItems.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>

namespace tallowin {

/// Reads the secret of an unlocked Secret Service item, without prompting, in as little time
/// as the bus allows: a blocking libdbus connection (no worker thread, no GObject types), a
/// "plain" session opened once, and two method calls a read (SearchItems, GetSecret).
///
/// The secret crosses the user's own session bus unencrypted. That saves a Diffie-Hellman
/// exchange on both ends each time a browser starts the host, and protects nothing less:
/// any program able to watch that bus runs as the same user and may ask the service for the
/// same item. The message's copy of the secret is wiped.
///
/// Not thread-safe: the owner serialises calls.
class SecretServiceReader {
public:
    SecretServiceReader(std::string busAddress, std::chrono::milliseconds timeout);
    ~SecretServiceReader();
    SecretServiceReader(const SecretServiceReader&) = delete;
    SecretServiceReader& operator=(const SecretServiceReader&) = delete;

    /// The secret of the first unlocked item carrying exactly these attributes (others may be
    /// present too). interactionNotAllowed when only locked items match, itemNotFound when none
    /// does, serviceUnavailable when there is no bus, no service or no answer in time.
    [[nodiscard]] KeychainStatus read(const std::map<std::string, std::string>& attributes,
                                      SecretBytes& data);

private:
    struct Connection;
    KeychainStatus readOnce(const std::map<std::string, std::string>& attributes,
                            SecretBytes& data);

    std::string busAddress_;
    std::chrono::milliseconds timeout_;
    std::unique_ptr<Connection> connection_;
};

} // namespace tallowin
