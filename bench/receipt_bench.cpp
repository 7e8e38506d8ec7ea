// Receipts through the whole virtual printer: bytes in, decoded, laid out,
// drawn, and written as PNG, text and JSON, as r3-sim --paper does. Mixed
// receipts (text styles, a code table, EAN-13, QR, a 512 x 200 logo) on one
// thread; prints receipts per second and the memory in use as the run goes on,
// which must stay flat.
//   receipt_bench [RECEIPTS [FOLDER]]   (1000, a new folder in the temporary folder)
#include <fmt/format.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "paper_folder.h"
#include "r3_engine.h"
#include "receipts.h"

namespace {

// Resident memory now, in MiB.
double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// Processor time this process has used, user and system, in seconds.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto s = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tessaly::sim;
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const auto dir =
        (argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path()) /
        ("r3-receipt-bench-" + std::to_string(getpid()));
    PaperFolder folder(dir.string());
    std::string error;
    if (count < 1 || !folder.open(error)) {
        fmt::print(stderr, "receipt_bench: {}\n", count < 1 ? "RECEIPTS must be 1 or more" : error);
        return 1;
    }

    // Each receipt differs a little, so that nothing is merely repeated.
    std::vector<receipts::Bytes> mix;
    for (int i = 0; i < 8; ++i) {
        receipts::Bytes r = receipts::Shop(512, 200);
        const std::string order = fmt::format("Order {:04d}\n", i);
        r.insert(r.begin() + 2, order.begin(), order.end());
        mix.push_back(std::move(r));
    }

    PrinterConfig config;
    config.keepJobs = true;
    config.keepHistory = false;  // as in r3-sim
    R3Engine engine(config);
    std::int64_t now = 0;
    std::size_t bytes = 0;
    int written = 0;
    fmt::print("{} receipts ({} KiB each), decoded, drawn and written to {}\n", count,
               mix[0].size() / 1024, dir.string());
    fmt::print("{:>9} {:>12} {:>12}\n", "receipts", "receipts/s", "memory MiB");
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    auto lap = start;
    for (int i = 0; i < count; ++i) {
        const auto& receipt = mix[static_cast<std::size_t>(i) % mix.size()];
        engine.receive(receipt.data(), receipt.size(), now += 10);
        bytes += receipt.size();
        for (auto& job : engine.takeJobs()) {
            if (!folder.write(std::move(job), error)) {
                fmt::print(stderr, "receipt_bench: {}\n", error);
                return 1;
            }
            ++written;
        }
        engine.takeEvents();  // r3-sim prints these; here they are dropped
        if ((i + 1) % (count / 10 > 0 ? count / 10 : 1) == 0) {
            const auto t = std::chrono::steady_clock::now();
            const double s = std::chrono::duration<double>(t - lap).count();
            fmt::print("{:>9} {:>12.0f} {:>12.1f}\n", i + 1, (count / 10 > 0 ? count / 10 : 1) / s,
                       ResidentMiB());
            lap = t;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    std::filesystem::remove_all(dir);
    // On a busy machine the wall clock also counts other programs' turns; the
    // processor time is what the receipts took on one core.
    fmt::print(
        "{} receipts in {:.2f} s ({:.2f} s of processor time): {:.0f} receipts/s, {:.0f} "
        "per processor second (target 200); {:.1f} MiB/s in; peak memory {:.1f} MiB\n",
        written, seconds, cpu, written / seconds, written / cpu,
        static_cast<double>(bytes) / seconds / (1 << 20), PeakMiB());
    return written == count ? 0 : 1;
}
