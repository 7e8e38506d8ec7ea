#pragma once

#include <cstdint>
#include <memory>

#include "clock.h"
#include "concrete_port.h"
#include "port_settings.h"
#include "printer_port.h"
#include "r3_engine.h"

namespace tessaly::sim {

// A printer port wired straight to an engine in the same process. Reads wait on the
// given Clock exactly as the real link would, so with a VirtualClock an exchange
// that takes seconds on the wire costs nothing.
class SimulatedPort final : public ConcretePort {
  public:
    struct Options {
        bool failSetup = false;
        bool failOpen = false;
    };

    SimulatedPort(R3Engine& engine, Clock& clock, PortType type);
    SimulatedPort(R3Engine& engine, Clock& clock, PortType type, Options options);

    bool Setup(const PortSettings& settings) override;
    bool Open(int unused) override;
    // Hands the bytes to the printer; once the link is dead this is a short count.
    // While the printer takes no data the write waits on the clock, at most as
    // long as the real link's write time-out, and then returns what was taken.
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count) override;
    // Serial and parallel: waits at most 100 + 10 * count ms and returns once 10 ms
    // pass without a new byte after one arrived. USB: waits at most timeoutMs and
    // returns as soon as something arrived.
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    std::string LastError() const override { return lastError_; }
    // The engine's link went dead (Disconnect fault).
    bool LineLost() const override { return open_ && !engine_.connected(); }

    PortType type() const { return type_; }
    const PortSettings& settings() const { return settings_; }

  private:
    R3Engine& engine_;
    Clock& clock_;
    PortType type_;
    Options options_;
    PortSettings settings_;
    bool open_ = false;
    std::string lastError_;
};

// A PortFactory whose ports all talk to the same engine, of whatever type is asked.
PortFactory MakeSimulatedPortFactory(R3Engine& engine, Clock& clock,
                                     SimulatedPort::Options options = {});

}  // namespace tessaly::sim
