#include "process_identity.h"

#include <windows.h>

#include <cctype>

#include "win32_system.h"

namespace tessaly {
namespace {

// The process's creation time as text; empty when it cannot be read.
std::string CreationTime(HANDLE process) {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return {};
    const unsigned long long ticks =
        (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return std::to_string(ticks);
}

// The running process with this id; invalid when there is none. `unsure` is set
// when one may exist that this user cannot look at.
UniqueHandle OpenRunning(long long pid, bool& unsure) {
    unsure = false;
    if (pid <= 0 || pid > 0xFFFFFFFFLL) return {};
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    if (!process.valid()) {
        unsure = GetLastError() == ERROR_ACCESS_DENIED;
        return {};
    }
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE) return {};
    return process;
}

}  // namespace

ProcessIdentity ThisProcess() {
    return {static_cast<long long>(GetCurrentProcessId()), CreationTime(GetCurrentProcess())};
}

bool StillRunning(const ProcessIdentity& process) {
    bool unsure = false;
    const UniqueHandle handle = OpenRunning(process.pid, unsure);
    if (!handle.valid()) return unsure;
    const std::string created = CreationTime(handle.get());
    return created.empty() || created == process.start;
}

bool MayRunOurProgram(long long pid) {
    bool unsure = false;
    const UniqueHandle handle = OpenRunning(pid, unsure);
    if (!handle.valid()) return unsure;
    char path[MAX_PATH * 2];
    DWORD length = sizeof path;
    if (!QueryFullProcessImageNameA(handle.get(), 0, path, &length)) return true;
    std::string name(path, length);
    name = name.substr(name.find_last_of("\\/") + 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name == "tessaly.exe" || name == "tessaly-cli.exe";
}

}  // namespace tessaly
