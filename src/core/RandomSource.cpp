// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/RandomSource.h"

#include <climits>
#include <cstdlib>
#include <openssl/rand.h>

namespace tallowin {

namespace {
class SystemRandom final : public RandomSource {
public:
    void fill(std::span<std::uint8_t> out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            const std::size_t chunk = std::min<std::size_t>(out.size() - done, INT_MAX);
            if (RAND_bytes(out.data() + done, static_cast<int>(chunk)) != 1) {
                std::abort();
            }
            done += chunk;
        }
    }
};
} // namespace

RandomSource& systemRandom() {
    static SystemRandom source;
    return source;
}

Bytes randomBytes(std::size_t count, RandomSource& source) {
    Bytes out(count);
    source.fill(out);
    return out;
}

} // namespace tallowin
