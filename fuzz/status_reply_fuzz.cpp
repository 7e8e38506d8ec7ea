// A printer that answers with fuzzed bytes: the connection check, Get Status and
// Set Status must end, within a bounded number of reads, with a result and never
// crash; the check's explanation of what it saw stays short.
//
// Input: byte 0 picks the link (bit 0: USB) and the buyer-set list index for Set
// Status (bits 1..3); the rest is what the printer sends, handed out in order to
// whatever the exchange reads.
#include <cstdint>
#include <memory>
#include <vector>

#include "clock.h"
#include "concrete_port.h"
#include "connection_check.h"
#include "printer_port.h"
#include "set_status.h"
#include "status_query.h"

namespace {

using namespace tessaly;

struct Stream {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    std::size_t emptyReads = 0;
};

class FuzzPort final : public ConcretePort {
  public:
    FuzzPort(Stream& stream, VirtualClock& clock) : s_(stream), clock_(clock) {}
    bool Setup(const PortSettings&) override { return true; }
    bool Open(int) override { return open_ = true; }
    std::uint32_t Write(const std::uint8_t*, std::uint32_t count) override { return count; }
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                       std::uint32_t timeoutMs) override {
        std::uint32_t n = 0;
        while (n < count && s_.pos < s_.size) buffer[n++] = s_.data[s_.pos++];
        if (n == 0) ++s_.emptyReads;
        clock_.advance(n == 0 ? timeoutMs : 1);
        return n;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }

  private:
    Stream& s_;
    VirtualClock& clock_;
    bool open_ = false;
};

struct NoDownload final : FontDownloadStarter {
    void StartFontDownload(int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Stream stream{data + 1, size - 1};
    VirtualClock clock;
    PrinterPort port([&](PortType) { return std::make_unique<FuzzPort>(stream, clock); });
    PortSettings settings;
    settings.portName = (data[0] & 1) ? "R-3:/dev/usb/lp0" : "COM1";
    FixedAnswerNotifier notifier{MessageAnswer::Ok};
    Session session{port, clock, notifier};

    CheckReport report;
    CheckCommunication(session, settings, (data[0] & 1) ? PortType::Usb : PortType::Serial, {},
                       &report);
    if (report.bytes.size() > 16 || report.message.details.size() > 400) __builtin_trap();

    // The status exchanges get the rest of the printer's bytes on a port of their own.
    if (!port.Setup(settings) || !port.Open(0)) return 0;
    NullProgress progress;
    SilentStatusView view;
    view.choice = {(data[0] >> 1) & 7, 0, 0};
    StatusRecord record;
    StatusExchange exchange(session, port.type(), progress, view, record);
    NoDownload download;

    exchange.GetStatus();
    SetStatus(exchange, download);
    exchange.GetStatus();

    // A read that brings nothing waits its whole time-out; the loop bounds keep
    // their number small whatever the printer sends.
    if (stream.emptyReads > 600) __builtin_trap();
    if (clock.now() > 30LL * 60 * 1000) __builtin_trap();
    return 0;
}
