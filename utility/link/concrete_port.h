#pragma once

#include <cstdint>
#include <string>

#include "port_settings.h"

namespace tessaly {

// One kind of printer link (serial, parallel, USB or a virtual printer).
// PrinterPort owns at most one and forwards every call to it.
class ConcretePort {
  public:
    virtual ~ConcretePort() = default;

    virtual bool Setup(const PortSettings& settings) = 0;
    virtual bool Open(int unused) = 0;
    virtual std::uint32_t Write(const std::uint8_t* data, std::uint32_t count) = 0;
    virtual std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                               std::uint32_t timeoutMs) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Waits (bounded) until every byte written so far has left the computer, so
    // that a success reported afterwards is true. False when the device did not
    // take them. Ports whose writes return only once the device took the bytes
    // (the parallel port's driver, the virtual printer) have nothing to wait for.
    virtual bool WaitSent() { return IsOpen(); }

    // Why the last Setup, Open, Write or Read failed, phrased for the user with
    // what to do about it; empty when nothing failed or nothing more is known.
    virtual std::string LastError() const { return {}; }

    // True once a read or write since the last Open found the line hung up or the
    // device gone (cable pulled, printer switched off, the far end closed).
    virtual bool LineLost() const { return false; }

    // Ports that follow their device coming and going (USB) expose a descriptor
    // that becomes readable when notices are pending; an event loop then calls
    // HandleDeviceEvents. -1 and nothing to do for the others.
    virtual int NotificationFd() const { return -1; }
    virtual void HandleDeviceEvents() {}
};

}  // namespace tessaly
