// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs the native-messaging host the way a browser does: its standard input and output
// are pipes, and messages are framed with a native-endian 32-bit length.

#include "core/Environment.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tallowin::testsupport {

class HostProcess {
public:
    HostProcess(const std::string& executable, const Environment& environment);
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;
    ~HostProcess();

    /// Writes raw bytes to the host's standard input.
    bool write(std::string_view bytes);
    /// Writes one framed message.
    bool writeMessage(std::string_view json) { return write(frame(json)); }
    void closeInput();

    /// One framed reply, or nothing at end of output or at the deadline.
    [[nodiscard]] std::optional<std::string> readMessage(std::chrono::milliseconds timeout);
    /// Waits for the exit status (nothing at the deadline).
    [[nodiscard]] std::optional<int> waitForExit(std::chrono::milliseconds timeout);

    [[nodiscard]] static std::string frame(std::string_view json);
    [[nodiscard]] static std::string lengthPrefix(std::uint32_t length);

private:
    bool readExactly(char* out, std::size_t count, std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::optional<int> status_;
};

} // namespace tallowin::testsupport
