#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drain_input.h"
#include "port_settings.h"
#include "session.h"

namespace tessaly {

// Bounds that keep a misbehaving printer from holding the check forever.
struct CheckLimits {
    // How much the stale-input drain takes before the check gives up on a printer
    // that never stops sending.
    DrainLimits drain;
    // Longest manufacturer name collected on a byte link.
    std::uint32_t maxNameBytes = 128;
    // After a query that brought no answer (or only part of one), how long the
    // check goes on listening to tell a late answer from none at all.
    std::uint32_t lateAnswerListenMs = 2000;
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

// What the check saw when the printer failed it, as the likely cause.
enum class CheckCause {
    None,             // nothing to add (success, or the port itself failed)
    NoAnswer,         // not a single byte came back
    UnexpectedBytes,  // bytes came back, but not the answer of this printer
    LineHungUp,       // the line hung up or the device went away
    LateAnswer,       // the answer came only after the check had stopped waiting
};

// The outcome of a connection check with what was seen on the line.
struct CheckReport {
    CheckResult result = CheckResult::SetupFailed;
    Message message;  // the message shown; its details describe the cause
    CheckCause cause = CheckCause::None;
    std::vector<std::uint8_t> bytes;  // the first bytes of the failed answer
    std::int64_t answerAfterMs = -1;  // LateAnswer: from the query to its first byte
};

// Sets up and opens the port, drains stale input, resets the printer and accepts
// it only when its model byte and manufacturer name are this printer's. Shows
// exactly one message for every outcome; after a failure its details say what
// the check saw and the likely cause. The port stays open only on success.
CheckResult CheckCommunication(Session& session, const PortSettings& settings,
                               PortType interfaceType, const CheckLimits& limits = {},
                               CheckReport* report = nullptr);

// Makes the connected printer print its self-test page, then waits the time the
// printer needs for it. True when the command left the computer whole.
bool SelfTest(Session& session);
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
