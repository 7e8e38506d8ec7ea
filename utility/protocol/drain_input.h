#pragma once

#include <cstdint>

#include "session.h"

namespace tessaly {

// How much stale input a drain takes before it gives up on a printer that never
// stops sending. A finite burst of 64 KiB drains at 9600 baud and faster.
struct DrainLimits {
    std::uint32_t maxBytes = 128u << 10;
    std::uint32_t maxMs = 90000;
};

// Byte links: reads until five reads in a row, each after a 50 ms wait, bring
// nothing or a NUL. Once a byte came, the rest of the burst is read in chunks at
// the line's own pace instead of one byte per wait. False when the printer was
// still sending at one of the limits.
bool DrainInput(Session& session, const DrainLimits& limits);

}  // namespace tessaly
