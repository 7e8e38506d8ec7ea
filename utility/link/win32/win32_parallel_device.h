#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "parallel_device.h"
#include "win32_system.h"

namespace tessaly {

// A parallel port through the Windows parallel driver (LPT1 ... LPT3). The port is
// opened for overlapped I/O so that every read, write and status query is bounded.
class Win32ParallelDevice final : public ParallelDevice {
  public:
    static constexpr DWORD kQueryInformation = 0x160004;  // IOCTL_PAR_QUERY_INFORMATION
    static constexpr std::uint8_t kSelected = 0x80;       // PARALLEL_SELECTED
    static constexpr std::uint8_t kNoPrinter = 0x7F;      // status register with nothing on it
    static constexpr DWORD kStatusQueryMs = 1000;

    ~Win32ParallelDevice() override;

    bool Open(const std::string& name) override;
    std::optional<ParallelStatus> QueryStatus() override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count,
                        const WriteBounds& bounds) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                       const ReadBounds& bounds) override;
    void Close() override;
    bool IsOpen() const override { return handle_.valid(); }
    std::string LastError() const override { return lastError_; }

    // The printer's condition from the parallel driver's status byte. Only the
    // selected bit alone (0x80) makes a ready printer: power off, not connected and
    // off line clear "selected", and the other bits each name a fault.
    static ParallelStatus DecodeDriverStatus(std::uint8_t status);
    // I/O address of the status register of a port on the Windows 95/98/Me family.
    static std::uint16_t StatusRegister(const std::string& name);

  private:
    std::optional<ParallelStatus> QueryDriver();
    std::optional<ParallelStatus> QueryStatusRegister();

    UniqueHandle handle_;
    std::string name_;
    std::string lastError_;
};

}  // namespace tessaly
