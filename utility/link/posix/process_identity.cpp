#include "process_identity.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>

namespace tessaly {
namespace {

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Changes at every boot: process start times count from the boot.
std::string BootId() {
    return FirstLine("/proc/sys/kernel/random/boot_id");
}

// The start time in clock ticks after boot (field 22 of /proc/PID/stat); empty
// when it cannot be read. The command name in field 2 may hold spaces and
// parentheses, so the fields are counted from the last ')'.
std::string StartTicks(long long pid) {
    const std::string stat = FirstLine("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number)
        if (number == 22) return field;
    return {};
}

bool ValidPid(long long pid) {
    return pid > 0 && pid <= INT_MAX;
}

// False only when the system says there is no such process.
bool PidExists(long long pid) {
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace

ProcessIdentity ThisProcess() {
    const long long pid = getpid();
    return {pid, BootId() + "/" + StartTicks(pid)};
}

bool StillRunning(const ProcessIdentity& process) {
    if (!ValidPid(process.pid)) return false;
    const auto slash = process.start.find('/');
    if (slash == std::string::npos) return false;  // not a start this system writes
    const std::string boot = BootId();
    if (!boot.empty() && process.start.substr(0, slash) != boot) return false;  // rebooted since
    if (!PidExists(process.pid)) return false;
    const std::string ticks = StartTicks(process.pid);
    return ticks.empty() || ticks == process.start.substr(slash + 1);
}

bool MayRunOurProgram(long long pid) {
    if (!ValidPid(pid) || !PidExists(pid)) return false;
    const std::string command = FirstLine("/proc/" + std::to_string(pid) + "/comm");
    return command.empty() || command == "tessaly-cli" || command == "Tessaly";
}

}  // namespace tessaly
