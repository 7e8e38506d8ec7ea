#pragma once

#include <string>

#include "fd_io.h"
#include "usb_device.h"

namespace tessaly {

// A USB printer's data channel through the Linux usblp driver (/dev/usb/lpN).
class PosixUsbDevice final : public UsbDevice {
  public:
    bool Open(const std::string& node) override { return file_.Open(node); }
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count,
                        const WriteBounds& bounds) override {
        return file_.Write(data, count, bounds);
    }
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                       const ReadBounds& bounds) override {
        return file_.Read(buffer, count, bounds);
    }
    // usblp opened non-blocking returns from a write once the transfer is under
    // way and reports POLLOUT when it completed; closing earlier may drop it.
    bool WaitSent(std::uint32_t timeoutMs) override { return file_.WaitWritable(timeoutMs); }
    void Close() override { file_.Close(); }
    bool IsOpen() const override { return file_.IsOpen(); }
    std::string LastError() const override { return file_.LastError(); }

  private:
    static constexpr NodeAdvice kAdvice{
        "USB printer", "is not there: check that it is plugged in and switched on.",
        "Install the udev rule 70-vantreel-r3.rules (cmake --install) and plug the printer in "
        "again, or add your user to the 'lp' group (sudo usermod -aG lp $USER) and log in again.",
        "Close it (or pause its print queue) and try again."};
    NodeFile file_{kAdvice};
};

}  // namespace tessaly
