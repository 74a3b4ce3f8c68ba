// SPDX-License-Identifier: GPL-3.0-or-later
// Framing and JSON of browser messages: reads every message in the input, then checks
// that each one survives being written and read again.
#include "browser/NativeMessaging.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowin;
    MemorySource input(std::string(reinterpret_cast<const char*>(data), size));
    while (auto message = readMessage(input)) {
        StringSink sink;
        if (!writeMessage(sink, *message)) {
            std::abort();
        }
        MemorySource back(sink.bytes());
        const auto again = readMessage(back);
        if (!again || *again != *message || back.consumed() != sink.bytes().size()) {
            std::abort();
        }
    }
    return 0;
}
