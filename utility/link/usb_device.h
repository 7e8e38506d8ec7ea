#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "io_bounds.h"

namespace tessaly {

// Vendor and product of the R-3 on USB, as the system shows them (lower-case hex).
inline constexpr const char* kR3UsbVendor = "2e9b";
inline constexpr const char* kR3UsbProduct = "0006";
// Port-list entries of USB printers are this prefix followed by the device node.
inline constexpr const char* kR3UsbPrefix = "R-3:";

// What tells one USB printer from another, whatever node it was given.
struct UsbIdentity {
    std::string vendor;
    std::string product;
    std::string serial;  // may be empty when the printer reports none
    bool operator==(const UsbIdentity&) const = default;
};

struct UsbEvent {
    enum class Action { Added, Removed };
    Action action;
    std::string node;                     // device node, e.g. /dev/usb/lp0
    std::optional<UsbIdentity> identity;  // known for arrivals, not after removal
};

// The platform side of a USB printer's data channel.
class UsbDevice {
  public:
    virtual ~UsbDevice() = default;
    // Opens the device node exclusively for reading and writing.
    virtual bool Open(const std::string& node) = 0;
    virtual std::uint32_t Write(const std::uint8_t* data, std::uint32_t count,
                                const WriteBounds& bounds) = 0;
    virtual std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                               const ReadBounds& bounds) = 0;
    // Waits at most timeoutMs for the last write to be taken by the printer; false
    // (with LastError) when it was not. Windows' overlapped writes complete only
    // once their transfer did, so there nothing is ever pending.
    virtual bool WaitSent(std::uint32_t /*timeoutMs*/) { return IsOpen(); }
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // The last failure, phrased for the user with what to do about it.
    virtual std::string LastError() const = 0;
};

// The platform's notices about USB printers coming and going.
class UsbWatcher {
  public:
    virtual ~UsbWatcher() = default;
    // Starts receiving notices; false (with LastError) when that is not possible.
    virtual bool Start() = 0;
    virtual void Stop() = 0;
    // A descriptor that becomes readable when notices are pending (-1 when stopped),
    // for the caller's event loop.
    virtual int Fd() const = 0;
    // The notices received so far, oldest first; never waits.
    virtual std::vector<UsbEvent> TakeEvents() = 0;
    // The identity of the printer behind a device node, if it is a present USB printer.
    virtual std::optional<UsbIdentity> IdentityOf(const std::string& node) = 0;
    // The device node of a present printer with this identity.
    virtual std::optional<std::string> FindNode(const UsbIdentity& identity) = 0;
    virtual std::string LastError() const = 0;
    // A watcher that receives notices on a thread of its own (and has no descriptor for an
    // event loop) calls the handler there as each notice arrives, so that the port lets go
    // of a printer that was unplugged, and opens one that came back, at once.
    virtual void SetNoticeHandler(std::function<void()> handler) { (void)handler; }
};

// The R-3 printers attached by USB, each as kR3UsbPrefix followed by its device
// node, in the order the system enumerates them.
std::vector<std::string> FindUsbPrinters();

}  // namespace tessaly
