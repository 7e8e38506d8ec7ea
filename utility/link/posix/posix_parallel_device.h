#pragma once

#include <string>

#include "fd_io.h"
#include "parallel_device.h"

namespace tessaly {

// A parallel port through the Linux lp driver (/dev/lpN). The printer's status
// comes from LPGETSTATUS.
class PosixParallelDevice final : public ParallelDevice {
  public:
    bool Open(const std::string& name) override { return file_.Open(DevicePath(name)); }
    std::optional<ParallelStatus> QueryStatus() override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count,
                        const WriteBounds& bounds) override {
        return file_.Write(data, count, bounds);
    }
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                       const ReadBounds& bounds) override {
        return file_.Read(buffer, count, bounds);
    }
    void Close() override { file_.Close(); }
    bool IsOpen() const override { return file_.IsOpen(); }
    std::string LastError() const override { return file_.LastError(); }

    // The device node a port name stands for: "LPTn" names /dev/lp(n-1); any other
    // name is used as is.
    static std::string DevicePath(const std::string& name);
    // The lp driver's status byte (the port's status lines) as a printer condition.
    static ParallelStatus DecodeStatus(int lpStatus);

  private:
    static constexpr NodeAdvice kAdvice{
        "parallel port",
        "does not exist. Check the port name and that the lp driver is loaded (sudo modprobe lp).",
        "Add your user to the 'lp' group (sudo usermod -aG lp $USER), then log in again.",
        "Close it and try again."};
    NodeFile file_{kAdvice};
};

}  // namespace tessaly
