// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/FileIO.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowin {

namespace {
std::error_code lastError() {
    return {errno, std::generic_category()};
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

std::error_code writeAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}
} // namespace

std::error_code writeFileAtomically(const std::filesystem::path& path,
                                    std::span<const std::uint8_t> bytes, mode_t mode) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int raw = ::mkstemp(temp.data());
    if (raw < 0) {
        return lastError();
    }
    FileDescriptor fd(raw);
    auto cleanUp = [&](std::error_code error) {
        ::unlink(temp.c_str());
        return error;
    };
    if (::fchmod(fd.get(), mode) != 0) {
        return cleanUp(lastError());
    }
    if (auto error = writeAll(fd.get(), bytes)) {
        return cleanUp(error);
    }
    if (::fsync(fd.get()) != 0) {
        return cleanUp(lastError());
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        return cleanUp(lastError());
    }
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) {
        ::fsync(dir.get()); // the rename is done; a failed folder sync is not worth undoing it
    }
    return {};
}

std::error_code readFile(const std::filesystem::path& path, Bytes& out, std::size_t maxBytes) {
    out.clear();
    // O_NONBLOCK: opening a FIFO put in the file's place must not wait for a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        return lastError();
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return lastError();
    }
    if (!S_ISREG(info.st_mode)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        return std::make_error_code(std::errc::file_too_large);
    }
    out.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            out.clear();
            return lastError();
        }
        if (n == 0) {
            break;
        }
        if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
            out.clear();
            return std::make_error_code(std::errc::file_too_large);
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    return {};
}

} // namespace tallowin
