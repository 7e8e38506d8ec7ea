#pragma once

#include <string>

#include "parallel_device.h"

namespace tessaly {

// A parallel port through the Linux lp driver (/dev/lpN). The printer's status
// comes from LPGETSTATUS.
class PosixParallelDevice final : public ParallelDevice {
  public:
    ~PosixParallelDevice() override;

    bool Open(const std::string& name) override;
    std::optional<ParallelStatus> QueryStatus() override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count,
                        const WriteBounds& bounds) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                       const ReadBounds& bounds) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    std::string LastError() const override { return lastError_; }

    // The device node a port name stands for: "LPTn" names /dev/lp(n-1); any other
    // name is used as is.
    static std::string DevicePath(const std::string& name);
    // The lp driver's status byte (the port's status lines) as a printer condition.
    static ParallelStatus DecodeStatus(int lpStatus);

  private:
    void SetErrno(const char* what, int error);

    int fd_ = -1;
    std::string path_;
    std::string lastError_;
};

}  // namespace tessaly
