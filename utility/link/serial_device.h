#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tessaly {

// Line settings with the Windows DCB codes (see PortSettings).
struct LineSettings {
    std::int32_t baudRate = 19200;
    std::int32_t dataBits = 8;
    std::int32_t stopBits = 0;     // 0 one, 1 one and a half, 2 two
    std::int32_t parity = 0;       // 0 none, 1 odd, 2 even
    std::int32_t flowControl = 0;  // 0 hardware, 1 Xon/Xoff
};

// Read and write time-outs in the Windows COMMTIMEOUTS sense (milliseconds):
// a read of n bytes waits at most readTotalConstant + readTotalMultiplier * n and
// returns once readInterval passes between two bytes; a write of n bytes is bounded
// by writeTotalConstant + writeTotalMultiplier * n.
struct SerialTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

enum class DsrState {
    On,
    Off,
    QueryFailed,
    NoModemLines,  // a pseudo-terminal: the line has no modem signals at all
};

// The platform side of a serial line. SerialPort keeps the rules (order of the
// steps, the DSR test, the fixed time-outs); a device only performs them.
class SerialDevice {
  public:
    virtual ~SerialDevice() = default;
    // Opens the device exclusively for reading and writing.
    virtual bool Open(const std::string& name) = 0;
    // Programs speed, character size, parity, stop bits and flow control.
    virtual bool SetLine(const LineSettings& line) = 0;
    virtual DsrState QueryDsr() = 0;
    virtual bool SetTimeouts(const SerialTimeouts& timeouts) = 0;
    // Discards everything pending in both directions.
    virtual bool Purge() = 0;
    // Bytes written that have not left the computer yet (the driver's output
    // queue); nullopt when that cannot be asked (LastError says why).
    virtual std::optional<std::uint32_t> PendingOutput() = 0;
    // Whether the driver itself stops sending while the printer holds DSR low.
    // Where it does not (termios has no such flag), SerialPort waits for DSR.
    virtual bool HoldsOutputWhileDsrLow() const = 0;
    virtual std::uint32_t Write(const std::uint8_t* data, std::uint32_t count) = 0;
    virtual std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // The last failure, phrased for the user with what to do about it.
    virtual std::string LastError() const = 0;
    // True once a read or write since Open found the line hung up (a USB adapter
    // pulled out, the far end of a pseudo-terminal closed).
    virtual bool HungUp() const { return false; }
};

}  // namespace tessaly
