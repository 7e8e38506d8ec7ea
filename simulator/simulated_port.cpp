#include "simulated_port.h"

#include <algorithm>

#include "parallel_port.h"
#include "serial_port.h"
#include "usb_port.h"

namespace tessaly::sim {

SimulatedPort::SimulatedPort(R3Engine& engine, Clock& clock, PortType type)
    : SimulatedPort(engine, clock, type, Options{}) {}

SimulatedPort::SimulatedPort(R3Engine& engine, Clock& clock, PortType type, Options options)
    : engine_(engine), clock_(clock), type_(type), options_(options) {}

bool SimulatedPort::Setup(const PortSettings& settings) {
    if (options_.failSetup) {
        lastError_ = "The virtual printer's port refused its settings (simulated failure).";
        return false;
    }
    settings_ = settings;
    if (type_ == PortType::Serial) {
        engine_.setHostLine(settings.baudRate, settings.dataBits, settings.parity);
    } else {
        engine_.clearHostLine();
    }
    lastError_.clear();
    return true;
}

bool SimulatedPort::Open(int) {
    if (options_.failOpen) {
        lastError_ = "The virtual printer's port could not be opened (simulated failure).";
        open_ = false;
        return false;
    }
    open_ = true;
    lastError_.clear();
    return true;
}

std::uint32_t SimulatedPort::Write(const std::uint8_t* data, std::uint32_t count) {
    if (!open_ || data == nullptr) return 0;
    // A printer that takes no data holds the write up to the link's write time-out:
    // serial 3000 + 5 ms per byte in all, parallel and USB 5000 ms without progress.
    const bool serial = type_ == PortType::Serial;
    const std::int64_t stallMs =
        type_ == PortType::Usb ? UsbPort::kWriteStallMs : ParallelPort::kWriteStallMs;
    const auto& timeouts = SerialPort::kFixedTimeouts;
    const std::int64_t start = clock_.now();
    std::int64_t lastProgress = start;
    std::uint32_t taken = 0;
    for (;;) {
        const std::int64_t now = clock_.now();
        const std::size_t n = engine_.receive(data + taken, count - taken, now);
        if (n > 0) lastProgress = now;
        taken += static_cast<std::uint32_t>(n);
        if (taken == count) return taken;
        const auto resume = engine_.resumesAt(now);
        if (!resume) {
            lastError_ = "The virtual printer stopped answering (link dropped).";
            return taken;
        }
        const std::int64_t deadline = serial
                                          ? start + timeouts.writeTotalConstant +
                                                std::int64_t{timeouts.writeTotalMultiplier} * count
                                          : lastProgress + stallMs;
        if (*resume >= deadline) {
            clock_.sleep(static_cast<std::uint32_t>(std::max<std::int64_t>(0, deadline - now)));
            lastError_ = "The virtual printer stopped taking data.";
            return taken;
        }
        clock_.sleep(static_cast<std::uint32_t>(std::max<std::int64_t>(1, *resume - now)));
    }
}

std::uint32_t SimulatedPort::Read(std::uint8_t* buffer, std::uint32_t count,
                                  std::uint32_t timeoutMs) {
    if (!open_ || buffer == nullptr || count == 0) return 0;
    const bool usb = type_ == PortType::Usb;
    const std::int64_t start = clock_.now();
    const std::int64_t deadline =
        start + (usb ? std::int64_t{timeoutMs} : 100 + 10 * std::int64_t{count});
    constexpr std::int64_t kInterval = 10;

    std::uint32_t got = 0;
    std::int64_t lastByteAt = start;
    for (;;) {
        const std::int64_t now = clock_.now();
        const std::size_t n = engine_.takeOutput(buffer + got, count - got, now);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            lastByteAt = now;
        }
        if (got == count) return got;
        if (usb && got > 0) return got;  // a USB read returns what has arrived
        if (now >= deadline) return got;
        if (got > 0 && now - lastByteAt >= kInterval) return got;

        // Sleep until something can change: the next reply byte, the interval
        // timer or the overall deadline, whichever comes first.
        std::int64_t wake = deadline;
        if (got > 0) wake = std::min(wake, lastByteAt + kInterval);
        if (const auto next = engine_.nextOutputTime())
            wake = std::min(wake, std::max(*next, now + 1));
        clock_.sleep(static_cast<std::uint32_t>(std::max<std::int64_t>(1, wake - now)));
    }
}

void SimulatedPort::Close() {
    open_ = false;
}

PortFactory MakeSimulatedPortFactory(R3Engine& engine, Clock& clock,
                                     SimulatedPort::Options options) {
    return [&engine, &clock, options](PortType type) -> std::unique_ptr<ConcretePort> {
        return std::make_unique<SimulatedPort>(engine, clock, type, options);
    };
}

}  // namespace tessaly::sim
