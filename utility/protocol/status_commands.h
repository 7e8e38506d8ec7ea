#pragma once

#include <array>
#include <cstdint>

#include "commands.h"

namespace tessaly::cmd {

// Printer commands of the status exchange and of the memory-switch writes.
inline constexpr const auto& CmdSelectPrinter = CmdSelectPeripheral;                // ESC = 1
inline constexpr std::array<std::uint8_t, 3> CmdFirmwareVersion{0x1D, 0x49, 0x41};  // GS I 65
inline constexpr std::array<std::uint8_t, 7> CmdVersionSuffix{0x1D, 0x28, 0x45, 0x02,
                                                              0x00, 0x0C, 0x08};
// User-setup period: IN and OUT.
inline constexpr std::array<std::uint8_t, 8> CmdEnterSetup{0x1D, 0x28, 0x45, 0x03,
                                                           0x00, 0x01, 0x49, 0x4E};
inline constexpr std::array<std::uint8_t, 9> CmdLeaveSetup{0x1D, 0x28, 0x45, 0x04, 0x00,
                                                           0x02, 0x4F, 0x55, 0x54};

// GS ( E function 4: read memory switch n.
constexpr std::array<std::uint8_t, 7> CmdReadSwitch(std::uint8_t n) {
    return {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, n};
}
// GS ( E function 12: transmit serial condition a (1 baud, 2 parity, 3 flow, 4 data bits).
constexpr std::array<std::uint8_t, 7> CmdSerialCondition(std::uint8_t a) {
    return {0x1D, 0x28, 0x45, 0x02, 0x00, 0x0C, a};
}
// GS ( E function 3: write memory switch n. chars[0] is the character for bit 8,
// chars[7] the one for bit 1; '0' clears, '1' sets, '2' keeps the printer's bit.
constexpr std::array<std::uint8_t, 15> CmdWriteSwitch(std::uint8_t n,
                                                      const std::array<char, 8>& chars) {
    std::array<std::uint8_t, 15> bytes{0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, n};
    for (std::size_t i = 0; i < 8; ++i) bytes[7 + i] = static_cast<std::uint8_t>(chars[i]);
    return bytes;
}

inline constexpr std::uint8_t kSwitchReplyHeader = 0x37;
inline constexpr const char* kPrinterName = "Vantreel R-3";

}  // namespace tessaly::cmd
