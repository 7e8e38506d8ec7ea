#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tessaly {

// Interface type of a printer link; also the main dialog's interface radio index.
enum class PortType : int { Serial = 0, Parallel = 1, Usb = 2 };

// Line settings handed to PrinterPort::Setup. The codes of stopBits and parity are
// the Windows DCB codes (0 one, 1 one and a half, 2 two; 0 none, 1 odd, 2 even).
struct PortSettings {
    std::string portName;
    std::int32_t baudRate = 19200;
    std::int32_t dataBits = 8;
    std::int32_t stopBits = 0;
    std::int32_t parity = 0;
    std::int32_t flowControl = 0;  // 0 hardware, 1 Xon/Xoff
    // ReadIntervalTimeout, ReadTotalTimeoutMultiplier, ReadTotalTimeoutConstant,
    // WriteTotalTimeoutMultiplier, WriteTotalTimeoutConstant (ms).
    std::array<std::uint32_t, 5> timeouts{10, 10, 10, 0, 0};
};

}  // namespace tessaly
