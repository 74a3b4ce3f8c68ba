// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/NativeMessaging.h"

#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tallowin {
namespace {

std::string lengthPrefix(std::uint32_t length) {
    std::string prefix(4, '\0');
    std::memcpy(prefix.data(), &length, 4);
    return prefix;
}

std::string framed(std::string_view json) {
    return lengthPrefix(static_cast<std::uint32_t>(json.size())) + std::string(json);
}

/// Hands out at most `chunk` bytes per read, like a pipe that fills slowly.
class TricklingSource final : public ByteSource {
public:
    TricklingSource(std::string bytes, std::size_t chunk)
        : bytes_(std::move(bytes)), chunk_(chunk) {}
    std::size_t readSome(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min({buffer.size(), chunk_, bytes_.size() - position_});
        std::memcpy(buffer.data(), bytes_.data() + position_, n);
        position_ += n;
        return n;
    }

private:
    std::string bytes_;
    std::size_t chunk_;
    std::size_t position_ = 0;
};

TEST(NativeMessagingTest, ReadsBackToBackMessagesInOrder) {
    const std::string input = framed(R"({"type":"accounts","host":"example.com"})") +
                              framed(R"({"type":"remember","host":"a.example","id":"X"})") +
                              framed("{}");
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, input.size()}) {
        TricklingSource source(input, chunk);
        const auto first = readMessage(source);
        ASSERT_TRUE(first) << chunk;
        EXPECT_EQ((*first)["host"], "example.com");
        const auto second = readMessage(source);
        ASSERT_TRUE(second) << chunk;
        EXPECT_EQ((*second)["type"], "remember");
        EXPECT_EQ(readMessage(source), Json::object());
        EXPECT_FALSE(readMessage(source)); // end of input
    }
}

TEST(NativeMessagingTest, LargestMessageIsReadAndOneByteMoreIsRefusedUnread) {
    const std::string head = R"({"type":"accounts","host":")";
    std::string largest = head + std::string(kMaxMessageBytes - head.size() - 2, 'a') + "\"}";
    ASSERT_EQ(largest.size(), 999'999u);
    MemorySource ok(framed(largest));
    const auto message = readMessage(ok);
    ASSERT_TRUE(message);
    EXPECT_EQ((*message)["host"].get<std::string>().size(), largest.size() - head.size() - 2);

    largest.insert(head.size(), "a");
    const std::string oversized = framed(largest);
    MemorySource refused(oversized);
    EXPECT_FALSE(readMessage(refused));
    EXPECT_EQ(refused.consumed(), 4u);
}

TEST(NativeMessagingTest, EndsOnBadFrames) {
    const std::string cases[] = {
        "",                                                    // no input
        std::string("\x05\x00", 2),                            // short length
        lengthPrefix(0) + "{}",                                // zero length
        lengthPrefix(0xFFFFFFFFu) + "{}",                      // far too long
        lengthPrefix(10) + R"({"a":1})",                       // fewer bytes than announced
        framed("[1,2]"),                                       // array
        framed("\"accounts\""),                                // bare string
        framed("7"),                                           // number
        framed(R"({"type": )"),                                // invalid JSON
        framed("{\"type\":\"\xC3\x28\"}"),                     // invalid UTF-8
        framed(R"({"a":1} {"b":2})"),                          // two values in one message
        framed(std::string(200, '[') + std::string(200, ']')), // nests too deep
        framed(R"({"a":)" + std::string(100, '[') + std::string(100, ']') + "}"),
    };
    for (const auto& input : cases) {
        MemorySource source(input);
        EXPECT_FALSE(readMessage(source)) << testing::PrintToString(input);
    }
}

TEST(NativeMessagingTest, WritesNativeLengthThenCompactJSON) {
    StringSink sink;
    ASSERT_TRUE(writeMessage(
        sink, Json{{"ok", true}, {"host", "example.com"}, {"accounts", Json::array()}}));
    const std::string json = R"({"accounts":[],"host":"example.com","ok":true})";
    EXPECT_EQ(sink.bytes(), lengthPrefix(static_cast<std::uint32_t>(json.size())) + json);

    // Text that isn't UTF-8 still gives a reply, with the bad bytes replaced.
    StringSink replaced;
    ASSERT_TRUE(writeMessage(replaced, Json{{"issuer", "Caf\xE9"}}));
    MemorySource back(replaced.bytes());
    EXPECT_EQ(readMessage(back), (Json{{"issuer", "Caf\xEF\xBF\xBD"}}));
}

TEST(NativeMessagingTest, AReplyTooLargeForTheBrowserGivesUpIconsOfItsLastEntries) {
    const std::string icon = "data:image/png;base64," + std::string(300'000, 'A');
    Json entries = Json::array();
    for (int i = 0; i < 5; ++i) {
        entries.push_back({{"id", std::to_string(i)}, {"codes", {"123456"}}, {"icon", icon}});
    }
    StringSink sink;
    ASSERT_TRUE(writeMessage(sink, Json{{"ok", true}, {"accounts", entries}}));
    EXPECT_LE(sink.bytes().size(), 4 + kMaxReplyBytes);
    MemorySource back(sink.bytes());
    const Json reply = readMessage(back).value();
    ASSERT_EQ(reply["accounts"].size(), 5u);
    EXPECT_EQ(reply["accounts"][0]["icon"], icon); // the best matches keep theirs
    EXPECT_EQ(reply["accounts"][2]["icon"], icon);
    EXPECT_EQ(reply["accounts"][3]["icon"], "");
    EXPECT_EQ(reply["accounts"][4]["codes"][0], "123456");
}

TEST(NativeMessagingTest, RoundTripsOverAPipe) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const Json first{{"type", "accounts"}, {"host", "example.com"}};
    const Json second{{"type", "remember"}, {"id", "X"}};
    ASSERT_TRUE(writeMessage(fds[1], first));
    ASSERT_TRUE(writeMessage(fds[1], second));
    ::close(fds[1]);
    EXPECT_EQ(readMessage(fds[0]), first);
    EXPECT_EQ(readMessage(fds[0]), second);
    EXPECT_FALSE(readMessage(fds[0]));
    ::close(fds[0]);
}

} // namespace
} // namespace tallowin
