// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/NativeMessaging.h"

#include "browser/BoundedJSON.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <unistd.h>

namespace tallowin {

namespace {
/// Fills `buffer` completely; false when the input ended first.
bool readExactly(ByteSource& input, std::span<std::uint8_t> buffer) {
    while (!buffer.empty()) {
        const std::size_t n = input.readSome(buffer);
        if (n == 0) {
            return false;
        }
        buffer = buffer.subspan(n);
    }
    return true;
}
} // namespace

std::size_t FileDescriptorSource::readSome(std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

bool FileDescriptorSink::writeAll(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

std::size_t MemorySource::readSome(std::span<std::uint8_t> buffer) {
    const std::size_t n = std::min(buffer.size(), bytes_.size() - position_);
    std::memcpy(buffer.data(), bytes_.data() + position_, n);
    position_ += n;
    return n;
}

bool StringSink::writeAll(std::span<const std::uint8_t> bytes) {
    bytes_.append(bytes.begin(), bytes.end());
    return true;
}

std::optional<Json> readMessage(ByteSource& input) {
    std::uint32_t length = 0;
    std::uint8_t prefix[sizeof length];
    if (!readExactly(input, prefix)) {
        return std::nullopt;
    }
    std::memcpy(&length, prefix, sizeof length); // native byte order
    if (length == 0 || length > kMaxMessageBytes) {
        return std::nullopt;
    }
    // The buffer grows with what arrives, so a peer that announces much and sends little
    // costs little.
    std::string body;
    while (body.size() < length) {
        const std::size_t filled = body.size();
        body.resize(std::min<std::size_t>(length, std::max<std::size_t>(2 * filled, 1u << 16)));
        if (!readExactly(input, std::span(reinterpret_cast<std::uint8_t*>(body.data()) + filled,
                                          body.size() - filled))) {
            return std::nullopt;
        }
    }
    std::optional<Json> message = parseBoundedJSON(body, kMaxMessageDepth);
    if (!message || !message->is_object()) {
        return std::nullopt;
    }
    return message;
}

std::optional<Json> readMessage(int fd) {
    FileDescriptorSource input(fd);
    return readMessage(input);
}

std::string encodeMessage(const Json& reply) {
    return reply.dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {
/// The reply with the icons of its last entries (the lowest scores) emptied until it fits
/// in `limit` bytes; nothing when it has no icons to give up or fits already.
std::optional<std::string> withFewerIcons(const Json& reply, std::size_t encodedSize,
                                          std::size_t limit) {
    const auto accounts = reply.find("accounts");
    if (encodedSize <= limit || accounts == reply.end() || !accounts->is_array()) {
        return std::nullopt;
    }
    Json smaller = reply;
    Json& entries = smaller["accounts"];
    std::size_t excess = encodedSize - limit;
    for (auto entry = entries.rbegin(); entry != entries.rend() && excess > 0; ++entry) {
        const auto icon = entry->find("icon");
        if (icon == entry->end() || !icon->is_string()) {
            continue;
        }
        const std::size_t saved = icon->get_ref<const std::string&>().size();
        *icon = "";
        excess -= std::min(excess, saved);
    }
    return encodeMessage(smaller);
}
} // namespace

bool writeMessage(ByteSink& output, const Json& reply) {
    std::string json = encodeMessage(reply);
    // Browsers drop a host's message over 1 MiB together with the connection; a reply with
    // many large icons gives up icons rather than every code.
    if (std::optional<std::string> smaller = withFewerIcons(reply, json.size(), kMaxReplyBytes)) {
        json = std::move(*smaller);
    }
    if (json.size() > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    const auto length = static_cast<std::uint32_t>(json.size());
    std::uint8_t prefix[sizeof length];
    std::memcpy(prefix, &length, sizeof length);
    return output.writeAll(prefix) &&
           output.writeAll(
               std::span(reinterpret_cast<const std::uint8_t*>(json.data()), json.size()));
}

bool writeMessage(int fd, const Json& reply) {
    FileDescriptorSink output(fd);
    return writeMessage(output, reply);
}

} // namespace tallowin
