#pragma once

#include <cstdint>

namespace tessaly {

// How long one read may take: at most totalMs in all, and once bytes flow, at most
// intervalMs between two of them (0: no interval limit). A read returns what it
// has when either limit passes, so it never waits without end.
struct ReadBounds {
    std::uint32_t totalMs = 0;
    std::uint32_t intervalMs = 0;
};

// How long one write may take: at most totalMs in all (0: no total limit) and at
// most stallMs without the device taking a single byte (0: no stall limit).
struct WriteBounds {
    std::uint32_t totalMs = 0;
    std::uint32_t stallMs = 0;
};

}  // namespace tessaly
