#pragma once

#include <memory>
#include <mutex>

#include "concrete_port.h"
#include "usb_device.h"

namespace tessaly {

// A printer on USB. Opens its device node exclusively, serialises reads and writes
// with a lock, bounds every read by the caller's timeout, and follows the printer
// through unplugging: on removal it lets go of the device (deviceState -1), and
// when the same printer (vendor, product, serial number) comes back, at whatever
// node, it opens it again (deviceState 1). Only an arrival notice brings it back:
// a removal notice may come while the printer is still listed.
//
// Notices are handled by HandleDeviceEvents(), which an event loop calls when
// NotificationFd() becomes readable, or at once on the watcher's own thread when it
// has one (and no read or write is under way); Write and Read also handle pending
// notices, so a caller without an event loop still follows the printer.
//
// A read asks the device for the whole requested size in each call: a USB printer
// class driver fails a read whose buffer is smaller than the packet the printer
// sends.
class UsbPort final : public ConcretePort {
  public:
    // A write returns what the printer took once it has taken nothing for this long.
    static constexpr std::uint32_t kWriteStallMs = 5000;
    // Once a reply flows, a read returns after this long without a further byte.
    static constexpr std::uint32_t kReadIntervalMs = 10;
    // While a read waits for a reply, device notices are handled this often.
    static constexpr std::uint32_t kNoticeCheckMs = 50;

    UsbPort(std::unique_ptr<UsbDevice> device, std::unique_ptr<UsbWatcher> watcher);
    ~UsbPort() override;

    bool Setup(const PortSettings& settings) override;
    bool Open(int unused) override;
    // Closes the device if held and opens the current node again.
    bool Reopen();
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count) override;
    // Returns as soon as a reply has arrived: a short packet ends a USB read.
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs) override;
    // Waits for the last transfer to complete (at most kWriteStallMs); false when
    // the printer did not take it or was unplugged.
    bool WaitSent() override;
    // Lets the last transfer complete (bounded) before letting go of the device.
    void Close() override;
    bool IsOpen() const override { return isOpen_; }
    std::string LastError() const override;
    bool LineLost() const override { return deviceState() == -1; }

    // 0 before the first open, 1 while the device is present and open, -1 after it
    // was removed.
    int deviceState() const;
    // The node in use: the one set up, or where the printer came back.
    std::string devicePath() const;
    // Readable when device notices are pending; -1 when the port is not open.
    int NotificationFd() const override;
    // Handles every pending notice without waiting.
    void HandleDeviceEvents() override;

  private:
    bool ReopenLocked();
    void HandleEventsLocked();
    // On the watcher's thread: handles the notices unless a read or write holds the
    // port (it handles them itself as soon as it can).
    void HandleEventsIfIdle();

    std::unique_ptr<UsbDevice> device_;
    std::unique_ptr<UsbWatcher> watcher_;
    std::string devicePath_;
    std::optional<UsbIdentity> identity_;
    bool isOpen_ = false;
    bool watching_ = false;
    int deviceState_ = 0;
    std::string lastError_;
    mutable std::mutex ioLock_;
};

}  // namespace tessaly
