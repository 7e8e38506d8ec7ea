// The connection check over USB against the virtual printer on a pseudo-terminal,
// opened through the real USB port code: wall time against the time the protocol
// prescribes (its fixed waits plus the read time-outs it runs into). A reply ends
// a USB read, so a healthy check takes little more than its two 200 ms waits.
#include <fmt/format.h>

#include "bench_support.h"
#include "connection_check.h"

using namespace tessaly;

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    bench::PtyBench b;
    if (!b.Start(true)) return 1;
    auto& [engine, printer, account, port, clock, notifier, session, progress, view] = b;

    fmt::print("Connection check on {} (USB port code, virtual R-3)\n", b.PortName(true));
    fmt::print("{:>4} {:>10} {:>10} {:>10} {:>10} {:>7}\n", "run", "wall ms", "waits ms",
               "timeouts", "prescr ms", "ratio");
    int status = 0;
    for (int run = 0; run < runs; ++run) {
        PortSettings settings;
        settings.portName = b.PortName(true);
        clock.slept = 0;
        account = {};
        const auto start = std::chrono::steady_clock::now();
        const CheckResult result = CheckCommunication(session, settings, PortType::Usb);
        const double wall = bench::WallMs(start);
        const double prescribed = static_cast<double>(clock.slept + account.prescribedMs);
        const bool ok = result == CheckResult::Connected;
        fmt::print("{:>4} {:>10.1f} {:>10} {:>10} {:>10.0f} {:>7.4f}{}\n", run + 1, wall,
                   clock.slept, account.prescribedMs, prescribed, wall / prescribed,
                   ok ? "" : "  (failed)");
        if (!ok) status = 1;
    }
    return status;
}
