// tessaly-cli apply on 1, 4 and 16 virtual printers at once, each on its own
// pseudo-terminal reached through the real serial port code: wall time, the
// program's CPU time and peak memory, for a run that changes every printer and
// one that finds them unchanged, against one Get Status.
//
//   fleet_bench [COUNTS...]     (default 1 4 16)
#include <fcntl.h>
#include <fmt/format.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pty_printer.h"
#include "r3_engine.h"

extern char** environ;

namespace {

struct Run {
    int status = -1;
    double wallS = 0;
    double cpuS = 0;  // user + system time of the program
    double peakMb = 0;
};

// Runs the program with its output thrown away and measures it.
Run Measure(const std::vector<std::string>& args) {
    std::vector<std::string> all{TESSALY_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, TESSALY_CLI, &actions, nullptr, argv.data(), environ) != 0) return run;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    run.cpuS = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return run;
}

struct Printer {
    tessaly::sim::R3Engine engine;
    tessaly::sim::PtyPrinter pty{engine};
};

void Print(int printers, const char* what, const Run& r) {
    fmt::print("{:>8}  {:<10} {:>8.2f} {:>8.3f} {:>9.2f} {:>9.1f} {:>5}\n", printers, what, r.wallS,
               r.cpuS, 100.0 * r.cpuS / r.wallS, r.peakMb, r.status);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {1, 4, 16};

    const auto dir =
        std::filesystem::temp_directory_path() / fmt::format("fleet-bench-{}", ::getpid());
    std::filesystem::create_directories(dir);
    const std::string profile = (dir / "shop.toml").string();
    std::ofstream(profile) << "paper_width = \"2 Inch\"\ncode_page = \"PC850 (Multilingual)\"\n"
                              "[switches]\nmsw8 = \"01000010\"\n";

    fmt::print("tessaly-cli apply on virtual printers (one pseudo-terminal each)\n");
    fmt::print("{:>8}  {:<10} {:>8} {:>8} {:>9} {:>9} {:>5}\n", "printers", "run", "wall s",
               "cpu s", "cpu %core", "peak MB", "exit");
    double oneChanged = 0;
    double oneUnchanged = 0;
    bool ok = true;
    for (const int n : counts) {
        std::deque<Printer> printers(static_cast<std::size_t>(n));
        std::vector<std::string> args;
        for (Printer& p : printers) {
            if (!p.pty.start()) {
                fmt::print(stderr, "virtual printer: {}\n", p.pty.error());
                return 1;
            }
            args.insert(args.end(), {"--port", p.pty.slavePath()});
        }
        args.insert(args.end(), {"apply", "--json", profile});
        const Run changed = Measure(args);
        const Run unchanged = Measure(args);
        Print(n, "changed", changed);
        Print(n, "unchanged", unchanged);
        ok = ok && changed.status == 0 && unchanged.status == 0;
        if (n == counts.front()) {
            oneChanged = changed.wallS;
            oneUnchanged = unchanged.wallS;
            const Run get = Measure({"--port", printers.front().pty.slavePath(), "get-status"});
            Print(1, "get-status", get);
            fmt::print("{:>8}  unchanged apply / get-status: {:.3f} (target <= 1.00)\n", "",
                       unchanged.wallS / get.wallS);
        } else {
            fmt::print(
                "{:>8}  wall against {} printer{}: changed {:.2f}, unchanged {:.2f} "
                "(target <= 1.20)\n",
                "", counts.front(), counts.front() == 1 ? "" : "s", changed.wallS / oneChanged,
                unchanged.wallS / oneUnchanged);
        }
        for (Printer& p : printers) p.pty.stop();
    }
    fmt::print("targets: CPU under 10 % of one core, peak memory under 64 MB\n");
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
