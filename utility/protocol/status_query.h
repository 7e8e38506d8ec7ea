#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "drain_input.h"
#include "notifier.h"
#include "printer_settings.h"
#include "progress_sink.h"
#include "session.h"
#include "status_view.h"

namespace tessaly {

// Everything a status dialog knows about its printer: the memory-switch record,
// the printer's identity and its serial conditions.
struct StatusRecord {
    PrinterSettings settings;
    PrinterIdentity identity;
    SerialConditions serial;
};

// Bounds on the reads that otherwise wait for one particular byte: the single-byte
// text loops of the firmware version and the printer name (up to their NUL), the
// wait for the 0x37 header of the first memory switch, and the draining of stale
// input. A misbehaving printer meets one of them and the operation takes its
// failure path instead of waiting forever.
struct StatusLimits {
    std::uint32_t maxTextBytes = 64;
    std::uint32_t textLimitMs = 8000;
    std::uint32_t maxHeaderReads = 32;
    std::uint32_t headerLimitMs = 8000;
    DrainLimits drain;
};

// Why the last status operation failed.
enum class StatusFailure {
    None,
    NoModelId,      // no 0x20 answer to the model-id query
    WrongName,      // printer name without "Vantreel R-3" (or an unterminated reply)
    EndlessInput,   // the printer kept sending while stale input was drained
    NoSwitchReply,  // a memory switch was not answered with eight '0'/'1' characters
};

// The status exchange of the printer status dialog over an open port. Byte links
// (serial, parallel) and USB read their replies differently; every fixed wait
// goes through the session's clock.
class StatusExchange {
  public:
    StatusExchange(Session& session, PortType link, ProgressSink& progress, StatusView& view,
                   StatusRecord& record, StatusLimits limits = {});

    // The handshake every status operation starts with: reset, name check (first
    // operation of a dialog only), model id. False after the user has been told.
    bool IdentifyPrinter();
    // Queries the firmware and asks for the printer name, unless the firmware
    // version is already known. False when the name lacks "Vantreel R-3".
    bool CheckPrinterName();
    // Sets the firmware version text and major number. False (values unchanged)
    // when the printer kept sending or its reply never ended.
    bool QueryFirmwareVersion();
    // The eight bits of memory switch n, element k-1 holding bit k; nullopt when
    // the reply did not bring all eight characters within its read, one was other
    // than '0' or '1', or the header of the first switch of a Get Status never came.
    std::optional<std::array<std::int32_t, 8>> ReadMemorySwitch(int n, bool firstOfGetStatus);
    // Asks for serial condition a (1 baud, 2 parity, 3 flow control, 4 data bits),
    // stores it in the record's serial conditions and returns the reply text.
    std::string QuerySerialCondition(std::uint8_t a);
    // Byte links: drains stale input (see tessaly::DrainInput). False when the
    // printer is still sending at a limit.
    bool DrainInput();
    // The whole Get Status operation with its messages and button states.
    bool GetStatus();
    // Buttons and pages after a failed handshake: only Exit stays usable.
    void FailurePath();

    StatusFailure lastFailure() const { return failure_; }
    bool usb() const { return link_ == PortType::Usb; }
    Session& session() { return session_; }
    ProgressSink& progress() { return progress_; }
    StatusView& view() { return view_; }
    StatusRecord& record() { return record_; }

    // Reply helpers shared with the memory-switch writes.
    void ClearBuffer() { buffer_.fill(0); }
    std::uint32_t Read(std::uint32_t count, std::size_t offset = 0);
    // Waits 200 ms, reads 16 bytes and, if nothing came, 16 bytes once more;
    // returns the count of the read that brought the reply.
    std::uint32_t UsbRead();
    void Wait(std::uint32_t ms) { session_.clock.sleep(ms); }
    const std::array<std::uint8_t, 20>& buffer() const { return buffer_; }

  private:
    enum class TextEnd { Complete, Overrun };
    TextEnd ReadTextBytes(std::string& text, bool stepEachByte);
    std::string BufferText(std::size_t offset) const;
    void DiscardReplies();  // five times: wait 100 ms, read one byte
    bool Fail(StatusFailure failure);

    Session& session_;
    PortType link_;
    ProgressSink& progress_;
    StatusView& view_;
    StatusRecord& record_;
    StatusLimits limits_;
    StatusFailure failure_ = StatusFailure::None;
    std::array<std::uint8_t, 20> buffer_{};
};

// "VT04.20 R-3" -> "VT04.20 ": the text up to and including its first blank;
// empty when it has no blank.
std::string CutFirmwareText(const std::string& text);
// The decimal number at the start of characters 3 and 4 of the cut text (leading
// blanks, an optional sign, digits); 0 when there are none.
int FirmwareMajor(const std::string& cutText);

inline constexpr std::uint32_t kReplyTimeoutMs = 1000;

namespace messages {
inline const Message kDontUseProgram{"Don't use this program for other company product.", "Warning",
                                     MessageIcon::Exclamation};
inline const Message kCantConnect{"Can't connect printer. Please restart printer.", "Warning",
                                  MessageIcon::Information};
inline const Message kWrongPrinterName{"This printer don't match our printer name.", "Warning",
                                       MessageIcon::Exclamation};
inline const Message kGetStatusSuccess{"Success to get status of printer.", "Information",
                                       MessageIcon::Information};
// Get Status stops at a memory switch whose reply is missing, cut or not bits.
Message SwitchNotAnswered(int n);
}  // namespace messages

}  // namespace tessaly
