#pragma once

#include <string>

#include "serial_device.h"

namespace tessaly {

// A serial line through termios. Exclusive open uses both TIOCEXCL (other
// programs' opens fail with EBUSY) and flock (TIOCEXCL does not stop root).
// Time-outs are carried out with poll() the way the Windows serial driver applies
// COMMTIMEOUTS.
class PosixSerialDevice final : public SerialDevice {
  public:
    ~PosixSerialDevice() override;

    bool Open(const std::string& name) override;
    bool SetLine(const LineSettings& line) override;
    DsrState QueryDsr() override;
    bool SetTimeouts(const SerialTimeouts& timeouts) override;
    bool Purge() override;
    // TIOCOUTQ: what the driver still holds for the line.
    std::optional<std::uint32_t> PendingOutput() override;
    // Termios knows CTS output flow only; DSR is waited for by SerialPort.
    bool HoldsOutputWhileDsrLow() const override { return false; }
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    std::string LastError() const override { return lastError_; }
    bool HungUp() const override { return hungUp_; }

    // The device node a port name stands for: "COMn" and "\\.\COMn" name the
    // n-th standard serial port, /dev/ttyS(n-1); any other name is used as is.
    static std::string DevicePath(const std::string& name);

  private:
    void SetErrno(const char* what, int error);
    // After a read or write that ended early: notes whether the line hung up.
    void NoteHangUp(int error);

    int fd_ = -1;
    std::string path_;
    SerialTimeouts timeouts_;
    std::string lastError_;
    bool hungUp_ = false;
};

}  // namespace tessaly
