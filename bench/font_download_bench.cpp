// The font download of payloads 141 (with its 15 s pause) and 146 (without) to
// the virtual printer on a pseudo-terminal, through the real serial port: wall
// time against the pacing the download prescribes (10 ms per timer event, 10 ms
// after each 4096-byte block, the pause), CPU time of the sending thread, and
// peak memory.
#include <fmt/format.h>

#include "bench_support.h"
#include "font_download.h"
#include "pty_printer.h"
#include "r3_engine.h"

using namespace tessaly;

namespace {

int Measure(int buyerSet, int firmwareMajor) {
    bench::PtyBench b;
    if (!b.Start()) return 1;
    auto& [engine, printer, account, port, clock, notifier, session, progress, view] = b;
    PrinterIdentity identity;
    identity.firmwareMajor = firmwareMajor;
    PacingEngine timers(SystemClock::instance());
    FontDownload download(session, port.type(), 0, progress, view, timers, identity);

    const long rssBefore = bench::PeakRssKb();
    const double cpuStart = bench::ThreadCpuMs();
    const auto start = std::chrono::steady_clock::now();
    download.StartFontDownload(buyerSet);
    const std::uint64_t events = timers.run([&](int id) { download.OnDownloadTimer(id); });
    const double wall = bench::WallMs(start);
    const double cpu = bench::ThreadCpuMs() - cpuStart;
    const long rssAfter = bench::PeakRssKb();

    const auto payload = payloads::FindFontPayload(download.payloadId());
    // The pause, one period per timer event, and the wait after every 4096-byte
    // block but the header and the final one.
    const bool pause = download.payloadId() != 146;
    const bool bigBlocks = DownloadBlockSize(port.type(), 0) == 4096;
    const double blockWaits = bigBlocks ? download.blockCounter() - 2.0 : 0.0;
    const double prescribed = (pause ? kPauseParts * kPausePartMs : 0.0) +
                              static_cast<double>(events) * kDownloadTimerPeriodMs +
                              blockWaits * kBlockWaitMs;
    // Let the printer take the last bytes before asking what it received.
    for (int i = 0; i < 50 && engine.fontReceptions().empty(); ++i) clock.sleep(10);
    const auto received = engine.fontReceptions();
    const char* result = received.empty() ? "nothing" : sim::FontResultName(received[0].result);

    fmt::print("payload {} ({} bytes{}): {} timer events, {} blocks\n", download.payloadId(),
               payload->data.size(), payload->standIn ? ", stand-in" : "", events,
               download.blockCounter());
    fmt::print("  wall {:.1f} ms, prescribed {:.0f} ms, ratio {:.4f}; {:.1f} ms inside writes\n",
               wall, prescribed, wall / prescribed, account.writeMs);
    fmt::print("  CPU of the sending thread {:.1f} ms = {:.2f} % of wall\n", cpu,
               100.0 * cpu / wall);
    fmt::print("  peak RSS {} kB (before {} kB, payload {} kB, limit payload + 16 MB)\n", rssAfter,
               rssBefore, payload->data.size() / 1024);
    fmt::print("  outcome {}, printer received: {}\n",
               download.outcome() == FontDownload::Outcome::Succeeded ? "success" : "failure",
               result);
    return download.outcome() == FontDownload::Outcome::Succeeded ? 0 : 1;
}

}  // namespace

int main() {
    int status = Measure(4, 4);  // CHN-BIG5 on firmware 4: payload 141 with the pause
    status |= Measure(4, 3);     // firmware 3: payload 146 without a pause
    return status;
}
