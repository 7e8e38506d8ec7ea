#pragma once

#include <cstdint>

#include "port_settings.h"
#include "session.h"

namespace tessaly {

// Bounds that keep a misbehaving printer from holding the check forever.
struct CheckLimits {
    // Total time the stale-input drain may take before the check gives up on a
    // printer that never stops sending.
    std::uint32_t drainLimitMs = 5000;
    // Longest manufacturer name collected on a byte link.
    std::uint32_t maxNameBytes = 128;
};

enum class CheckResult {
    Connected,
    SetupFailed,
    OpenFailed,
    PortError,
    EndlessInput,
    WrongModel,
    WrongManufacturer,
};

// Sets up and opens the port, drains stale input, resets the printer and accepts
// it only when its model byte and manufacturer name are this printer's. Shows
// exactly one message for every outcome. The port stays open only on success.
CheckResult CheckCommunication(Session& session, const PortSettings& settings,
                               PortType interfaceType, const CheckLimits& limits = {});

// Makes the connected printer print its self-test page, then waits the time the
// printer needs for it.
void SelfTest(Session& session);
inline constexpr std::uint32_t kSelfTestMs = 4300;

namespace messages {
inline const Message kSetupFailed{"Port Configuration Set Error!", "Warning",
                                  MessageIcon::Exclamation};
inline const Message kOpenFailed{"Can't open port and Printer is disconnected", "Information",
                                 MessageIcon::Exclamation};
inline const Message kPortError{"Port error! Check printer's port, please.", "Warning",
                                MessageIcon::Exclamation};
inline const Message kWrongModel{"The connected printer has different device ID.", "Warning",
                                 MessageIcon::Exclamation};
inline const Message kWrongManufacturer{"This printer don't match our company name.", "Warning",
                                        MessageIcon::Exclamation};
inline const Message kEndlessInput{
    "The printer keeps sending data. Check the baud rate, data bits and parity, switch the "
    "printer off and on, and try again.",
    "Warning", MessageIcon::Exclamation};
inline const Message kConnected{"Printer is connected.", "Information", MessageIcon::Information};
}  // namespace messages

}  // namespace tessaly
