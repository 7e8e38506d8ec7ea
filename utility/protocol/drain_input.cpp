#include "drain_input.h"

#include <array>

namespace tessaly {

bool DrainInput(Session& session, const DrainLimits& limits) {
    constexpr std::uint32_t kReadTimeoutMs = 1000;
    const std::int64_t start = session.clock.now();
    std::uint64_t drained = 0;
    int empty = 0;
    for (;;) {
        session.clock.sleep(50);
        std::uint8_t byte = 0;
        session.port.Read(&byte, 1, kReadTimeoutMs);
        if (byte == 0) {
            if (++empty >= 5) return true;
        } else {
            empty = 0;
            ++drained;
            std::array<std::uint8_t, 64> chunk{};
            for (std::uint32_t n = 1; n > 0 && drained <= limits.maxBytes;) {
                n = session.port.Read(chunk.data(), chunk.size(), kReadTimeoutMs);
                drained += n;
                if (session.clock.now() - start >= limits.maxMs) return false;
            }
        }
        if (drained > limits.maxBytes || session.clock.now() - start >= limits.maxMs) return false;
    }
}

}  // namespace tessaly
