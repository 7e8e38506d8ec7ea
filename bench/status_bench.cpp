// Get Status against the virtual printer on a pseudo-terminal, through the real
// serial port: wall time against the time the protocol itself prescribes (its
// fixed waits plus the read time-outs it runs into).
#include <fmt/format.h>

#include "bench_support.h"
#include "pty_printer.h"
#include "r3_engine.h"
#include "status_query.h"

using namespace tessaly;

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    bench::PtyBench b;
    if (!b.Start()) return 1;
    auto& [engine, printer, account, port, clock, notifier, session, progress, view] = b;

    fmt::print("Get Status on {} (serial port code, virtual R-3)\n", printer.slavePath());
    fmt::print("{:>4} {:>10} {:>10} {:>10} {:>10} {:>7}\n", "run", "wall ms", "waits ms",
               "timeouts", "prescr ms", "ratio");
    for (int run = 0; run < runs; ++run) {
        // A fresh record each run: every run asks for the name and firmware too.
        StatusRecord record;
        StatusExchange exchange(session, port.type(), progress, view, record);
        clock.slept = 0;
        account = {};
        const auto start = std::chrono::steady_clock::now();
        const bool ok = exchange.GetStatus();
        const double wall = bench::WallMs(start);
        const double prescribed = static_cast<double>(clock.slept + account.prescribedMs);
        fmt::print("{:>4} {:>10.1f} {:>10} {:>10} {:>10.0f} {:>7.4f}{}\n", run + 1, wall,
                   clock.slept, account.prescribedMs, prescribed, wall / prescribed,
                   ok ? "" : "  (failed)");
    }
    return 0;
}
