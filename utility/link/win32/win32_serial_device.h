#pragma once

#include <windows.h>

#include <string>

#include "serial_device.h"
#include "win32_system.h"

namespace tessaly {

// A serial line through the Windows communications functions. The device is opened
// for synchronous I/O; every read and write is bounded by the COMMTIMEOUTS that
// SerialPort sets.
class Win32SerialDevice final : public SerialDevice {
  public:
    // The DCB as read by GetCommState carries 28 bytes on every Windows version.
    static constexpr DWORD kDcbLength = 28;
    static constexpr DWORD kPurgeAll =
        PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

    ~Win32SerialDevice() override;

    bool Open(const std::string& name) override;
    bool SetLine(const LineSettings& line) override;
    DsrState QueryDsr() override;
    bool SetTimeouts(const SerialTimeouts& timeouts) override;
    bool Purge() override;
    // ClearCommError's count of bytes still in the driver's output queue.
    std::optional<std::uint32_t> PendingOutput() override;
    // fOutxDsrFlow: the driver itself stops sending while DSR is low.
    bool HoldsOutputWhileDsrLow() const override { return true; }
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count) override;
    void Close() override;
    bool IsOpen() const override { return handle_.valid(); }
    std::string LastError() const override { return lastError_; }

    // Changes the fields of a DCB read from the port that the line settings decide,
    // keeping every other field as the driver reported it. CTS and DSR output flow
    // control are on for both flow-control choices; Xon/Xoff adds software flow.
    static void ApplyLine(DCB& dcb, const LineSettings& line);

  private:
    void Fail(const char* call, DWORD code);

    UniqueHandle handle_;
    std::string name_;
    std::string lastError_;
};

}  // namespace tessaly
