// libFuzzer target: the engine must take any byte stream, in any chunking, at any
// pace, without crashing, hanging or growing past its bounds.
//   build/fuzz/simulator/r3_engine_fuzz -max_total_time=60
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "r3_engine.h"

using tessaly::sim::FaultMode;
using tessaly::sim::PrinterConfig;
using tessaly::sim::R3Engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    PrinterConfig config;
    // The first byte picks a fault mode and the restart behaviour.
    config.fault = static_cast<FaultMode>(data[0] % 13);
    config.disconnectAfterBytes = data[1];
    config.endlessAfterBytes = data[1];
    config.replyDelayMs = data[1];
    config.restartMs = data[0] & 0x80 ? 0 : 50;
    config.silentSwitch = data[1] % 16;
    config.stallAfterBytes = data[1];
    config.stallMs = data[0] & 0x40 ? 0 : data[1];
    config.selfTestMs = data[0] & 0x20 ? 0 : 40;
    config.keepJobs = true;
    config.inputBufferBytes = 256;
    R3Engine engine(config);
    bool paperOut = false;

    std::int64_t now = 0;
    std::size_t at = 2;
    std::uint8_t out[64];
    while (at < size) {
        // Each chunk is preceded by a byte giving its length and the time step.
        const std::size_t length = std::min<std::size_t>(1 + data[at] % 32, size - at - 1);
        now += data[at] >> 3;
        ++at;
        // Now and then the paper runs out or comes back, so input waits as well.
        if ((data[at - 1] & 0x07) == 0x07) {
            engine.setCondition(paperOut ? "paper ok" : "paper end", now);
            paperOut = !paperOut;
        }
        engine.receive(data + at, length, now);
        at += length;
        engine.takeJobs();
        if (engine.takeOutput(out, sizeof out, now) > sizeof out) std::abort();
        engine.tick(now);
    }
    for (const auto& line : engine.paper()) {
        if (line.size() > R3Engine::kMaxLine) std::abort();
    }
    return 0;
}
