// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Browser native-messaging framing: a 4-byte length in the machine's byte order, then
// that many bytes of UTF-8 JSON. Reads block until the bytes arrive; nothing polls.

#include "core/VaultJSON.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tallowin {

/// Incoming messages are 1 to kMaxMessageBytes bytes long.
inline constexpr std::uint32_t kMaxMessageBytes = 999'999;
/// Browsers take replies of at most this many bytes.
inline constexpr std::size_t kMaxReplyBytes = 1u << 20;
/// Incoming messages nest objects and arrays at most this deep (requests are flat).
inline constexpr std::size_t kMaxMessageDepth = 64;

/// A blocking source of bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    /// Reads up to `buffer.size()` bytes (at least one unless the input ended); 0 at the
    /// end of the input or on an error.
    [[nodiscard]] virtual std::size_t readSome(std::span<std::uint8_t> buffer) = 0;
};

/// A blocking sink of bytes.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    /// Writes all of `bytes`; false when that failed.
    [[nodiscard]] virtual bool writeAll(std::span<const std::uint8_t> bytes) = 0;
};

/// Reads from a file descriptor (standard input in the host). Does not own it.
class FileDescriptorSource final : public ByteSource {
public:
    explicit FileDescriptorSource(int fd) : fd_(fd) {}
    [[nodiscard]] std::size_t readSome(std::span<std::uint8_t> buffer) override;

private:
    int fd_;
};

/// Writes to a file descriptor (standard output in the host). Does not own it.
class FileDescriptorSink final : public ByteSink {
public:
    explicit FileDescriptorSink(int fd) : fd_(fd) {}
    [[nodiscard]] bool writeAll(std::span<const std::uint8_t> bytes) override;

private:
    int fd_;
};

/// Reads from a copy of some bytes; remembers how far it got.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    [[nodiscard]] std::size_t readSome(std::span<std::uint8_t> buffer) override;
    [[nodiscard]] std::size_t consumed() const { return position_; }

private:
    std::string bytes_;
    std::size_t position_ = 0;
};

/// Appends to a string.
class StringSink final : public ByteSink {
public:
    [[nodiscard]] bool writeAll(std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

/// The next request, or nothing when the host must stop: the input ended within the
/// length or the body, the length is 0 or above kMaxMessageBytes (the body is then not
/// read), the body is not JSON, nests deeper than kMaxMessageDepth, or is not an object.
[[nodiscard]] std::optional<Json> readMessage(ByteSource& input);
[[nodiscard]] std::optional<Json> readMessage(int fd);

/// The compact JSON of a reply as it goes on the wire. Member order carries no meaning;
/// nlohmann writes members sorted. Invalid UTF-8 in strings is replaced by U+FFFD, so
/// this never fails.
[[nodiscard]] std::string encodeMessage(const Json& reply);

/// Writes one framed reply: the length, then the JSON, as two writes. False when a write
/// failed or the JSON is longer than a 32-bit length can say.
bool writeMessage(ByteSink& output, const Json& reply);
bool writeMessage(int fd, const Json& reply);

} // namespace tallowin
