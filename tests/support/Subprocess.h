// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Child processes for tests: every wait has a deadline, and a child never outlives the test
// process (it is killed when the test process dies, and when its handle is dropped).

#include "core/Environment.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tallowin::testsupport {

struct CommandResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1; ///< when it exited normally
    int signal = 0;    ///< the signal that ended it, if any
    std::string output;
    std::string errors;

    [[nodiscard]] bool succeeded() const { return started && !timedOut && exitCode == 0; }
};

/// `name` if it holds a slash, else the first executable of that name on `path` (a PATH value).
[[nodiscard]] std::optional<std::filesystem::path> findExecutable(std::string_view name,
                                                                  std::string_view path);

/// Runs `argv` with exactly `environment` (argv[0] looked up on its PATH), feeds it `input`,
/// and collects its output. After `timeout` it is killed and the result says so.
[[nodiscard]] CommandResult
runCommand(const std::vector<std::string>& argv, const Environment& environment,
           std::string_view input = {},
           std::chrono::milliseconds timeout = std::chrono::seconds(20));

/// A child that runs alongside the test.
class ChildProcess {
public:
    struct Options {
        bool pipeInput = false;          ///< else standard input is /dev/null
        bool pipeOutput = false;         ///< else standard output goes to `errorFile`
        std::filesystem::path errorFile; ///< standard error (and output); empty: /dev/null
    };

    /// Starts it; throws std::runtime_error when it cannot be started.
    ChildProcess(const std::vector<std::string>& argv, const Environment& environment,
                 const Options& options);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    /// Stops it (see stop).
    ~ChildProcess();

    [[nodiscard]] pid_t pid() const { return pid_; }
    /// A pidfd that becomes readable when the child ends (-1 where the kernel has none).
    [[nodiscard]] int exitDescriptor() const { return pidfd_; }

    /// Writes `text` to the child's standard input, then closes it.
    bool writeInputAndClose(std::string_view text);
    /// One line of standard output (without the newline), or nothing at the deadline, at the
    /// end of the output, or when the child ended.
    [[nodiscard]] std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    /// Whether it still runs (reaps it when it ended).
    [[nodiscard]] bool running();
    /// SIGTERM, then SIGKILL if it is still there after `grace`; then reaps it.
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(3));

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string pending_;
    bool reaped_ = false;
};

} // namespace tallowin::testsupport
