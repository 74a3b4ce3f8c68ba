// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/Snapshot.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace tallowin {

namespace {
constexpr std::string_view kPrefix = "vault-";
constexpr std::string_view kSuffix = ".tlwvault";
constexpr std::string_view kPlaceholderSuffix = ".icloud";
constexpr std::size_t kStampLength = 16;
constexpr std::size_t kMaxFileNameBytes = 255;

// Years the four-digit stamp can hold.
constexpr double kFirstStampSecond = -62135596800.0; // 0001-01-01T00:00:00Z, Unix time
constexpr double kLastStampSecond = 253402300799.0;  // 9999-12-31T23:59:59Z, Unix time

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int digits(std::string_view text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Length of the UTF-8 sequence that starts at text[i] (1 for a stray byte).
std::size_t sequenceLength(std::string_view text, std::size_t i) {
    std::size_t end = i + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        ++end;
    }
    return end - i;
}

// Longest prefix of `text` of at most `maxBytes` bytes that ends at a character boundary.
std::string_view cutAtCharacter(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}
} // namespace

std::string historyStamp(Date date) {
    using namespace std::chrono;
    double unix = std::floor(date.unixTime());
    if (!(unix >= kFirstStampSecond)) { // also catches NaN
        unix = kFirstStampSecond;
    } else if (unix > kLastStampSecond) {
        unix = kLastStampSecond;
    }
    const sys_seconds time{seconds{static_cast<std::int64_t>(unix)}};
    const sys_days day = floor<days>(time);
    const year_month_day ymd{day};
    const hh_mm_ss clock{time - day};
    char text[32];
    std::snprintf(text, sizeof text,
                  "%04d%02u%02u"
                  "T%02d%02d%02dZ",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::optional<Date> parseHistoryStamp(std::string_view stamp) {
    using namespace std::chrono;
    if (stamp.size() != kStampLength || stamp[8] != 'T' || stamp[15] != 'Z') {
        return std::nullopt;
    }
    for (std::size_t i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14}) {
        if (!isDigit(stamp[i])) {
            return std::nullopt;
        }
    }
    const year_month_day ymd{year{digits(stamp, 0, 4)},
                             month{static_cast<unsigned>(digits(stamp, 4, 2))},
                             day{static_cast<unsigned>(digits(stamp, 6, 2))}};
    const int hour = digits(stamp, 9, 2);
    const int minute = digits(stamp, 11, 2);
    const int second = digits(stamp, 13, 2);
    if (!ymd.ok() || ymd.year() == year{0} || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const sys_seconds time = sys_days{ymd} + hours{hour} + minutes{minute} + seconds{second};
    return Date::fromUnix(static_cast<double>(time.time_since_epoch().count()));
}

std::string historyFileName(Date date, std::string_view deviceName) {
    std::string name;
    name.reserve(kPrefix.size() + kStampLength + 1 + deviceName.size() + kSuffix.size());
    name += kPrefix;
    name += historyStamp(date);
    name += '-';
    const std::size_t room = kMaxFileNameBytes - name.size() - kSuffix.size();
    for (char c : cutAtCharacter(deviceName, room)) {
        name += c == '/' ? '-' : c;
    }
    name += kSuffix;
    return name;
}

std::optional<Snapshot> parseSnapshotName(const std::filesystem::path& entry) {
    std::string name = entry.filename().string();
    if (name.size() > kPlaceholderSuffix.size() && name.front() == '.' &&
        name.ends_with(kPlaceholderSuffix)) {
        name = name.substr(1, name.size() - 1 - kPlaceholderSuffix.size());
    }
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix) ||
        name.size() < kPrefix.size() + kSuffix.size()) {
        return std::nullopt;
    }
    const std::string_view core = std::string_view(name).substr(
        kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    if (core.size() < kStampLength) {
        return std::nullopt;
    }
    const std::optional<Date> date = parseHistoryStamp(core.substr(0, kStampLength));
    if (!date) {
        return std::nullopt;
    }
    // The character after the stamp separates the device part (it is not checked).
    std::string device;
    if (core.size() > kStampLength) {
        const std::size_t deviceStart = kStampLength + sequenceLength(core, kStampLength);
        device = std::string(core.substr(deviceStart));
    }
    return Snapshot{entry.parent_path() / name, *date, std::move(device)};
}

} // namespace tallowin
