#pragma once

// A small runner for the Windows integration tests: named groups of checks, each
// group bounded in time, and a closing "N passed, N failed" line.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace wintest {

inline int passed = 0;
inline int failed = 0;

inline void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "PASS" : "FAIL", what.c_str());
    std::fflush(stdout);
    (ok ? passed : failed)++;
}

struct Group {
    std::string name;
    std::function<void()> body;
    int limitSeconds = 30;
};

// Runs every group (or only the one named by filter); a group that runs past its
// limit counts as a failure and ends the run, since its state is unknown.
inline int Run(const std::vector<Group>& groups, const std::string& filter) {
    for (const Group& group : groups) {
        if (!filter.empty() && group.name != filter) continue;
        std::printf("== %s\n", group.name.c_str());
        std::fflush(stdout);
        std::packaged_task<void()> task(group.body);
        auto done = task.get_future();
        std::thread(std::move(task)).detach();
        if (done.wait_for(std::chrono::seconds(group.limitSeconds)) != std::future_status::ready) {
            Check(false,
                  group.name + ": finished within " + std::to_string(group.limitSeconds) + " s");
            break;
        }
        try {
            done.get();
        } catch (const std::exception& e) {
            Check(false, group.name + ": threw " + e.what());
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    // Detached groups that overran must not hold the process.
    ExitProcess(failed == 0 ? 0 : 1);
}

// Milliseconds a call took.
template <typename F>
long long TimeMs(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace wintest
