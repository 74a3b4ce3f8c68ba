// SPDX-License-Identifier: GPL-3.0-or-later
#include "Subprocess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tallowin::testsupport {

namespace {
using Clock = std::chrono::steady_clock;

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

/// Everything the child needs, prepared before fork: after it, only async-signal-safe calls.
struct Launch {
    std::string path;
    std::vector<std::string> argvText;
    std::vector<std::string> envText;
    std::vector<char*> argv;
    std::vector<char*> envp;

    Launch(const std::vector<std::string>& arguments, const Environment& environment) {
        if (arguments.empty()) {
            throw std::runtime_error("no command");
        }
        const auto found =
            findExecutable(arguments.front(), environment.get("PATH").value_or("/usr/bin:/bin"));
        if (!found) {
            throw std::runtime_error(arguments.front() + " not found");
        }
        path = found->string();
        argvText = arguments;
        for (const auto& [name, value] : environment.variables()) {
            envText.push_back(name + "=" + value);
        }
        for (auto& text : argvText) {
            argv.push_back(text.data());
        }
        argv.push_back(nullptr);
        for (auto& text : envText) {
            envp.push_back(text.data());
        }
        envp.push_back(nullptr);
    }

    /// Forks and execs with the given standard descriptors; returns the child's pid.
    pid_t spawn(int in, int out, int err) {
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid != 0) {
            return pid;
        }
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
            ::_exit(127);
        }
#ifdef SYS_close_range
        ::syscall(SYS_close_range, 3U, ~0U, 0U);
#endif
        ::execve(path.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
};

int openNull(int flags) {
    const int fd = ::open("/dev/null", flags | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open /dev/null");
    }
    return fd;
}

void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot create a pipe");
    }
}

/// Waits for `pid` until `deadline`; true when it was reaped.
bool waitUntil(pid_t pid, int pidfd, Clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        if (pidfd >= 0) {
            pollfd entry{pidfd, POLLIN, 0};
            ::poll(&entry, 1, remainingMs(deadline));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}
} // namespace

std::optional<std::filesystem::path> findExecutable(std::string_view name, std::string_view path) {
    if (name.find('/') != std::string_view::npos) {
        return std::filesystem::path(name);
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find(':', start), path.size());
        const std::filesystem::path folder(path.substr(start, end - start));
        if (!folder.empty()) {
            const auto candidate = folder / name;
            if (::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return std::nullopt;
}

CommandResult runCommand(const std::vector<std::string>& argv, const Environment& environment,
                         std::string_view input, std::chrono::milliseconds timeout) {
    CommandResult result;
    std::optional<Launch> launch;
    try {
        launch.emplace(argv, environment);
    } catch (const std::exception& error) {
        result.errors = error.what();
        return result;
    }
    int in[2], out[2], err[2];
    makePipe(in);
    makePipe(out);
    makePipe(err);
    const pid_t pid = launch->spawn(in[0], out[1], err[1]);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(in[1]);
        ::close(out[0]);
        ::close(err[0]);
        return result;
    }
    result.started = true;
    const int pidfd = openPidfd(pid);
    const auto deadline = Clock::now() + timeout;

    int inputFd = in[1];
    ::fcntl(inputFd, F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    if (input.empty()) {
        closeFd(inputFd);
    }
    int outputs[2] = {out[0], err[0]};
    std::string* sinks[2] = {&result.output, &result.errors};
    while (outputs[0] >= 0 || outputs[1] >= 0 || inputFd >= 0) {
        pollfd entries[3];
        int count = 0;
        for (int i = 0; i < 2; ++i) {
            if (outputs[i] >= 0) {
                entries[count++] = pollfd{outputs[i], POLLIN, 0};
            }
        }
        if (inputFd >= 0) {
            entries[count++] = pollfd{inputFd, POLLOUT, 0};
        }
        const int left = remainingMs(deadline);
        if (left == 0 || ::poll(entries, count, left) == 0) {
            result.timedOut = true;
            break;
        }
        for (int e = 0; e < count; ++e) {
            if (entries[e].revents == 0) {
                continue;
            }
            if (entries[e].fd == inputFd) {
                const ssize_t n = ::write(inputFd, input.data() + written, input.size() - written);
                if (n > 0) {
                    written += static_cast<std::size_t>(n);
                }
                if (n < 0 || written == input.size()) {
                    closeFd(inputFd);
                }
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                if (entries[e].fd == outputs[i]) {
                    char buffer[4096];
                    const ssize_t n = ::read(outputs[i], buffer, sizeof buffer);
                    if (n > 0) {
                        sinks[i]->append(buffer, static_cast<std::size_t>(n));
                    } else if (n == 0 || errno != EINTR) {
                        closeFd(outputs[i]);
                    }
                }
            }
        }
    }
    closeFd(inputFd);
    closeFd(outputs[0]);
    closeFd(outputs[1]);
    int status = 0;
    if (result.timedOut || !waitUntil(pid, pidfd, deadline, status)) {
        result.timedOut = true;
        ::kill(pid, SIGKILL);
        waitUntil(pid, pidfd, Clock::now() + std::chrono::seconds(10), status);
    }
    if (pidfd >= 0) {
        ::close(pidfd);
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Environment& environment,
                           const Options& options) {
    Launch launch(argv, environment);
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (options.pipeInput) {
        makePipe(in);
    } else {
        in[0] = openNull(O_RDONLY);
    }
    const int err =
        options.errorFile.empty()
            ? openNull(O_WRONLY)
            : ::open(options.errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (err < 0) {
        throw std::runtime_error("cannot open " + options.errorFile.string());
    }
    if (options.pipeOutput) {
        makePipe(out);
    }
    pid_ = launch.spawn(in[0], options.pipeOutput ? out[1] : err, err);
    ::close(in[0]);
    ::close(err);
    if (options.pipeOutput) {
        ::close(out[1]);
    }
    input_ = in[1];
    output_ = out[0];
    if (pid_ < 0) {
        closeFd(input_);
        closeFd(output_);
        throw std::runtime_error("cannot start " + argv.front());
    }
    pidfd_ = openPidfd(pid_);
}

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::writeInputAndClose(std::string_view text) {
    bool ok = input_ >= 0;
    std::size_t written = 0;
    while (ok && written < text.size()) {
        const ssize_t n = ::write(input_, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        written += ok ? static_cast<std::size_t>(n) : 0;
    }
    closeFd(input_);
    return ok;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const auto newline = pending_.find('\n'); newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return line;
        }
        if (output_ < 0) {
            return std::nullopt;
        }
        pollfd entries[2] = {{output_, POLLIN, 0}, {pidfd_, POLLIN, 0}};
        const int ready = ::poll(entries, pidfd_ >= 0 ? 2 : 1, remainingMs(deadline));
        if (ready <= 0) {
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (entries[0].revents == 0) {
            return std::nullopt; // the child ended without writing a line
        }
        char buffer[1024];
        const ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n <= 0) {
            closeFd(output_);
            continue;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool ChildProcess::running() {
    if (pid_ < 0 || reaped_) {
        return false;
    }
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
        reaped_ = true;
    }
    return !reaped_;
}

void ChildProcess::stop(std::chrono::milliseconds grace) {
    closeFd(input_);
    closeFd(output_);
    if (pid_ > 0 && !reaped_) {
        int status = 0;
        ::kill(pid_, SIGTERM);
        if (!waitUntil(pid_, pidfd_, Clock::now() + grace, status)) {
            ::kill(pid_, SIGKILL);
            waitUntil(pid_, pidfd_, Clock::now() + std::chrono::seconds(10), status);
        }
        reaped_ = true;
    }
    closeFd(pidfd_);
}

} // namespace tallowin::testsupport
