// SPDX-License-Identifier: GPL-3.0-or-later
#include "HostProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tallowin::testsupport {

namespace {
int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}
} // namespace

HostProcess::HostProcess(const std::string& executable, const Environment& environment) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> variables;
    for (const auto& [name, value] : environment.variables()) {
        variables.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::string program = executable;
    char* argv[] = {program.data(), nullptr};
    const int error = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (error != 0) {
        ::close(input_);
        ::close(output_);
        throw std::runtime_error(std::string("cannot start the host: ") + std::strerror(error));
    }
    std::signal(SIGPIPE, SIG_IGN);
}

HostProcess::~HostProcess() {
    closeInput();
    if (output_ >= 0) {
        ::close(output_);
    }
    if (!status_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

bool HostProcess::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(input_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void HostProcess::closeInput() {
    if (input_ >= 0) {
        ::close(input_);
        input_ = -1;
    }
}

bool HostProcess::readExactly(char* out, std::size_t count,
                              std::chrono::steady_clock::time_point deadline) {
    std::size_t done = 0;
    while (done < count) {
        pollfd fd{output_, POLLIN, 0};
        if (::poll(&fd, 1, remainingMs(deadline)) <= 0) {
            return false;
        }
        const ssize_t n = ::read(output_, out + done, count - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> HostProcess::readMessage(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint32_t length = 0;
    if (!readExactly(reinterpret_cast<char*>(&length), sizeof length, deadline)) {
        return std::nullopt;
    }
    std::string body(length, '\0');
    if (!readExactly(body.data(), body.size(), deadline)) {
        return std::nullopt;
    }
    return body;
}

std::optional<int> HostProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (status_) {
        return status_;
    }
    // A pidfd becomes readable when the child ends.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
        pollfd fd{pidfd, POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(timeout.count()));
        ::close(pidfd);
    }
    int status = 0;
    if (::waitpid(pid_, &status, pidfd >= 0 ? WNOHANG : 0) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
}

std::string HostProcess::lengthPrefix(std::uint32_t length) {
    return std::string(reinterpret_cast<const char*>(&length), sizeof length);
}

std::string HostProcess::frame(std::string_view json) {
    return lengthPrefix(static_cast<std::uint32_t>(json.size())) + std::string(json);
}

} // namespace tallowin::testsupport
