#pragma once

#include <string>

#include "usb_device.h"

namespace tessaly {

// A USB printer's data channel through the Linux usblp driver (/dev/usb/lpN).
class PosixUsbDevice final : public UsbDevice {
  public:
    ~PosixUsbDevice() override;

    bool Open(const std::string& node) override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count,
                        const WriteBounds& bounds) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                       const ReadBounds& bounds) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    std::string LastError() const override { return lastError_; }

  private:
    void SetErrno(const char* what, int error);

    int fd_ = -1;
    std::string path_;
    std::string lastError_;
};

}  // namespace tessaly
