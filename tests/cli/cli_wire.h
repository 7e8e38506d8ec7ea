#pragma once
// What tessaly-cli sends on the wire, and running it, for the command-line tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "program.h"

namespace tessaly::testing::wire {

using Bytes = std::vector<std::uint8_t>;
using Outcome = tessaly::testing::Program::Outcome;

inline Outcome RunCli(const std::vector<std::string>& args, int limitMs = 60000) {
    tessaly::testing::Program program(TESSALY_CLI, args);
    EXPECT_TRUE(program.started());
    return program.Wait(limitMs);
}

inline Bytes Cmd(std::initializer_list<int> list) {
    Bytes v;
    for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

// The connection check every printer command starts with.
inline const Bytes kCheck =
    Cmd({0x1B, 0x40, 0x1B, 0x3D, 0x01, 0x1D, 0x61, 0x00, 0x1D, 0x49, 0x01, 0x1D, 0x49, 0x42});
// IN: the start of every memory-switch write.
inline const Bytes kEnterSetup = Cmd({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E});

// The first Get Status of a dialog.
inline Bytes GetStatusWire() {
    Bytes w = Cmd({0x1B, 0x40, 0x1B, 0x3D, 0x01, 0x1D, 0x49, 0x41, 0x1D, 0x28, 0x45, 0x02,
                   0x00, 0x0C, 0x08, 0x1D, 0x49, 0x43, 0x1D, 0x61, 0x00, 0x1D, 0x49, 0x01});
    for (int n : {2, 8, 9, 1, 10, 11, 12}) {
        const Bytes q = Cmd({0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, n});
        w.insert(w.end(), q.begin(), q.end());
    }
    for (int a : {1, 2, 3, 4}) {
        const Bytes q = Cmd({0x1D, 0x28, 0x45, 0x02, 0x00, 0x0C, a});
        w.insert(w.end(), q.begin(), q.end());
    }
    w.insert(w.end(), {0x1B, 0x3D, 0x01});
    return w;
}

inline bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

}  // namespace tessaly::testing::wire
