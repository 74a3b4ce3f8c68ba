// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/PasswordPrompt.h"

#include "cli/CommandLine.h"
#include "cli/PasswordStrength.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <termios.h>
#include <unistd.h>

namespace tallowin {

namespace {

constexpr std::size_t kMaxPasswordBytes = 64 * 1024;
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// The terminal's settings while echo is off, so that a signal puts them back.
std::atomic<int> echoOffTerminal{-1};
struct termios savedSettings {};

extern "C" void restoreEchoAndReraise(int signal) {
    const int fd = echoOffTerminal.exchange(-1);
    if (fd >= 0) {
        ::tcsetattr(fd, TCSAFLUSH, &savedSettings);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class Terminal {
public:
    Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (fd_ < 0) {
            throw CommandError("No terminal to ask for the password on; use --password-stdin.");
        }
    }
    ~Terminal() { ::close(fd_); }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    void write(std::string_view text) const {
        while (!text.empty()) {
            const ssize_t written = ::write(fd_, text.data(), text.size());
            if (written <= 0) {
                return;
            }
            text.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    // Reads one line with echo off; the terminal's settings come back afterwards, also when
    // the process is interrupted meanwhile.
    std::string readHidden(std::string_view prompt) const {
        write(prompt);
        struct termios settings {};
        const bool isTerminal = ::tcgetattr(fd_, &settings) == 0;
        struct sigaction previous[std::size(kInterruptSignals)]{};
        if (isTerminal) {
            savedSettings = settings;
            echoOffTerminal = fd_;
            struct sigaction restore {};
            restore.sa_handler = restoreEchoAndReraise;
            sigemptyset(&restore.sa_mask);
            for (std::size_t i = 0; i < std::size(kInterruptSignals); ++i) {
                ::sigaction(kInterruptSignals[i], &restore, &previous[i]);
            }
            settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            settings.c_lflag |= ECHONL;
            ::tcsetattr(fd_, TCSAFLUSH, &settings);
        }
        std::string line;
        bool complete = false;
        char c = 0;
        while (::read(fd_, &c, 1) == 1) {
            if (c == '\n') {
                complete = true;
                break;
            }
            if (line.size() >= kMaxPasswordBytes) {
                break;
            }
            line.push_back(c);
        }
        c = 0;
        if (isTerminal) {
            ::tcsetattr(fd_, TCSAFLUSH, &savedSettings);
            echoOffTerminal = -1;
            for (std::size_t i = 0; i < std::size(kInterruptSignals); ++i) {
                ::sigaction(kInterruptSignals[i], &previous[i], nullptr);
            }
        }
        if (!complete) {
            wipeText(line);
            throw CommandError("No password was entered.");
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return line;
    }

private:
    int fd_;
};

} // namespace

void wipeText(std::string& text) {
    text.resize(text.capacity());
    OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}

bool readSecretLine(std::FILE* input, std::string& line) {
    wipeText(line);
    bool any = false;
    for (int c = std::fgetc(input); c != EOF; c = std::fgetc(input)) {
        any = true;
        if (c == '\n') {
            break;
        }
        if (line.size() >= kMaxPasswordBytes) {
            wipeText(line);
            throw CommandError("The password line is too long.");
        }
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return any;
}

std::string PasswordPrompt::ask(std::string_view prompt) {
    if (fromStandardInput_) {
        std::string line;
        if (!readSecretLine(input_, line)) {
            throw CommandError("No password on standard input.");
        }
        return line;
    }
    return Terminal().readHidden(prompt);
}

std::string PasswordPrompt::askNew(std::string_view prompt, std::string_view confirmation) {
    if (fromStandardInput_) {
        std::string password = ask(prompt);
        if (characterCount(password) < kMinimumNewPasswordLength) {
            wipeText(password);
            throw CommandError("At least 10 characters");
        }
        return password;
    }
    const Terminal terminal;
    std::string password = terminal.readHidden(prompt);
    if (characterCount(password) < kMinimumNewPasswordLength) {
        wipeText(password);
        throw CommandError("At least 10 characters");
    }
    terminal.write("Strength: " + std::to_string(passwordStrength(password)) + " of 4\n");
    std::string repeated = terminal.readHidden(confirmation);
    const bool same = repeated == password;
    wipeText(repeated);
    if (!same) {
        wipeText(password);
        throw CommandError("The passwords don't match.");
    }
    return password;
}

void PasswordPrompt::note(std::string_view text) {
    if (fromStandardInput_) {
        return;
    }
    try {
        Terminal().write(std::string(text) + "\n");
    } catch (const CommandError&) {
        // no terminal: the prompt that follows reports it
    }
}

} // namespace tallowin
