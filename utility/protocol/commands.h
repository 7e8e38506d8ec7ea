// utility/protocol/ is the printer's settings protocol without a user interface: the command
// bytes (this header), the connection check, Get Status, Set Status, the font download and the
// pacing that spaces them, status files and settings profiles. It talks to a PrinterPort and
// reports through a Notifier.
#pragma once

#include <array>
#include <cstdint>

namespace tessaly::cmd {

// Printer commands of the connection check and the self test.
inline constexpr std::array<std::uint8_t, 2> CmdInitialize{0x1B, 0x40};               // ESC @
inline constexpr std::array<std::uint8_t, 3> CmdSelectPeripheral{0x1B, 0x3D, 0x01};   // ESC = 1
inline constexpr std::array<std::uint8_t, 3> CmdDisableStatusBack{0x1D, 0x61, 0x00};  // GS a 0
inline constexpr std::array<std::uint8_t, 3> CmdModelId{0x1D, 0x49, 0x01};            // GS I 1
inline constexpr std::array<std::uint8_t, 3> CmdManufacturer{0x1D, 0x49, 0x42};       // GS I 66
inline constexpr std::array<std::uint8_t, 3> CmdPrinterName{0x1D, 0x49, 0x43};        // GS I 67
inline constexpr std::array<std::uint8_t, 7> CmdSelfTest{0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02};

inline constexpr std::uint8_t kModelId = 0x20;
inline constexpr std::uint8_t kNameHeader = 0x5F;
inline constexpr const char* kManufacturer = "Vantreel Druckwerken GmbH";

}  // namespace tessaly::cmd
