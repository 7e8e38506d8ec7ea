#pragma once

#include <string>

namespace tessaly {

// A process told apart from any later one that is given the same id.
struct ProcessIdentity {
    long long pid = 0;
    std::string start;  // when it started, in the platform's terms
    bool operator==(const ProcessIdentity&) const = default;
};

// This process.
ProcessIdentity ThisProcess();

// Whether that process still runs. When the system cannot tell (no permission to
// look), the answer is yes: a process is taken for gone only when that is known.
bool StillRunning(const ProcessIdentity& process);

// Whether a process with this id runs and may be one of this kit's programs (the
// start time unknown). Yes when the system cannot tell.
bool MayRunOurProgram(long long pid);

}  // namespace tessaly
