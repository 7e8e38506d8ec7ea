// utility/link/ is the printer link: PrinterPort, the portable core that opens a port by its
// type (serial, parallel, USB) and moves bytes with bounded waits; the queue diversion that keeps
// the system's print queues off a port while it is in use; and one folder per system with the
// devices themselves (posix/, win32/). Nothing here knows the printer's commands.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "concrete_port.h"
#include "port_settings.h"

namespace tessaly {

// Creates the concrete port for a port type. Production uses the platform ports;
// tests and the built-in virtual printer substitute their own.
using PortFactory = std::function<std::unique_ptr<ConcretePort>(PortType)>;

// Which port type a port name selects, and the device path the concrete port gets.
struct PortChoice {
    PortType type;
    std::string device;
};

// Port-name rules, exact and case-sensitive:
//   "COM..." or "\\.\COM..."  -> Serial (name passed unchanged)
//   "LPT..."                  -> Parallel
//   "R-3" anywhere            -> Usb, device = name without its first 4 characters
//   a device path that names a terminal (/dev/tty*, /dev/pts/*, /dev/serial/...,
//   or a symbolic link to one)  -> Serial;  /dev/lp*, /dev/parport* -> Parallel;
//   /dev/usb/lp* -> Usb.
// Anything else selects nothing.
std::optional<PortChoice> ChoosePort(const std::string& portName);

// The single object through which every printer exchange passes.
class PrinterPort {
  public:
    PrinterPort();  // platform ports
    explicit PrinterPort(PortFactory factory);
    ~PrinterPort();
    PrinterPort(const PrinterPort&) = delete;
    PrinterPort& operator=(const PrinterPort&) = delete;

    bool Setup(PortSettings settings);
    bool Open(int unused = 0);
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count);
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs);
    // True once everything written has left the computer (see ConcretePort).
    bool WaitSent() { return port_ && port_->WaitSent(); }
    void Close();

    PortType type() const { return type_; }
    bool HasPort() const { return port_ != nullptr; }
    bool IsOpen() const { return port_ && port_->IsOpen(); }
    // The concrete port's explanation of its last failure (empty if none).
    std::string LastError() const;
    // True once the concrete port found the line hung up or the device gone.
    bool LineLost() const { return port_ && port_->LineLost(); }
    // For an event loop: readable when the concrete port has device notices to
    // handle (USB unplug and return), -1 when it has none to give.
    int NotificationFd() const { return port_ ? port_->NotificationFd() : -1; }
    void HandleDeviceEvents() {
        if (port_) port_->HandleDeviceEvents();
    }

  private:
    PortFactory factory_;
    PortType type_ = PortType::Serial;
    std::unique_ptr<ConcretePort> port_;
};

// The concrete ports of this platform.
std::unique_ptr<ConcretePort> MakePlatformPort(PortType type);

}  // namespace tessaly
