#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {

using namespace detail;

namespace {

constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;
constexpr Handle kKernel32 = 0x7C800000u;
constexpr std::uintptr_t kIsWow64ProcessAddress = 0x7C810000u;
constexpr DWORD kShutdownPrivilegeLuid = 19;

}  // namespace

// ---- System information, profile, processes, power -------------------------------------

bool FakeWindows::GetComputerNameA(std::string& name, DWORD size) {
    const std::string args = Dec(size);
    if (auto code = Injected("GetComputerNameA", args))
        return BoolResult("GetComputerNameA", args, *code);
    if (config_.computerName.size() + 1 > size)
        return BoolResult("GetComputerNameA", args, ERROR_BUFFER_OVERFLOW);
    name = config_.computerName;
    return BoolResult("GetComputerNameA", args, 0, S(name));
}

std::optional<std::string> FakeWindows::ProfileString(const std::string& section,
                                                      const std::string& key) const {
    const auto sec = profile_.find(Upper(section));
    if (sec == profile_.end()) return std::nullopt;
    const auto value = sec->second.find(Upper(key));
    if (value == sec->second.end()) return std::nullopt;
    return value->second.second;
}

void FakeWindows::SetProfileString(const std::string& section, const std::string& key,
                                   const std::string& value) {
    profile_[Upper(section)][Upper(key)] = {key, value};
}

bool FakeWindows::WriteProfileStringA(const char* section, const char* key, const char* value) {
    const std::string args = Args(S(section), S(key), S(value));
    if (auto code = Injected("WriteProfileStringA", args))
        return BoolResult("WriteProfileStringA", args, *code);
    if (!section) return BoolResult("WriteProfileStringA", args, ERROR_INVALID_PARAMETER);
    if (!key)
        profile_.erase(Upper(section));
    else if (!value)
        profile_[Upper(section)].erase(Upper(key));
    else
        SetProfileString(section, key, value);
    return BoolResult("WriteProfileStringA", args, 0);
}

bool FakeWindows::GetVersionExA(OsVersionInfo* info) {
    const std::string args = Cat("{size ", Dec(info ? info->osVersionInfoSize : 0), "}");
    if (auto code = Injected("GetVersionExA", args))
        return BoolResult("GetVersionExA", args, *code);
    if (!info || (info->osVersionInfoSize != kOsVersionInfoSize && info->osVersionInfoSize != 156))
        return BoolResult("GetVersionExA", args, ERROR_INSUFFICIENT_BUFFER);
    const DWORD size = info->osVersionInfoSize;
    *info = config_.version;
    info->osVersionInfoSize = size;
    return BoolResult("GetVersionExA", args, 0,
                      Cat("[platform ", Dec(info->platformId), ", ", Dec(info->majorVersion), ".",
                          Dec(info->minorVersion), "]"));
}

Handle FakeWindows::GetCurrentProcess() {
    return INVALID_HANDLE_VALUE;
}

Handle FakeWindows::GetModuleHandleA(const char* moduleName) {
    const std::string name = moduleName ? Upper(moduleName) : "";
    const Handle h = (name == "KERNEL32" || name == "KERNEL32.DLL") ? kKernel32 : kNullHandle;
    if (!h) lastError_ = ERROR_MOD_NOT_FOUND;
    Log("GetModuleHandleA", S(moduleName), h ? "kernel32" : "NULL");
    return h;
}

std::uintptr_t FakeWindows::GetProcAddress(Handle module, const char* procName) {
    const std::string args =
        Args(module == kKernel32 ? "kernel32" : HandleText(module), S(procName));
    std::uintptr_t address = 0;
    if (module == kKernel32 && procName && std::string(procName) == "IsWow64Process" &&
        config_.kernelHasIsWow64Process)
        address = kIsWow64ProcessAddress;
    if (!address) lastError_ = ERROR_PROC_NOT_FOUND;
    Log("GetProcAddress", args, address ? "found" : "NULL");
    return address;
}

bool FakeWindows::IsWow64Process(Handle process, bool* wow64) {
    const std::string args =
        process == INVALID_HANDLE_VALUE ? "current process" : HandleText(process);
    if (auto code = Injected("IsWow64Process", args))
        return BoolResult("IsWow64Process", args, *code);
    *wow64 = config_.wow64Process;
    return BoolResult("IsWow64Process", args, 0, *wow64 ? "[TRUE]" : "[FALSE]");
}

UINT FakeWindows::WinExec(const char* commandLine, UINT show) {
    const std::string args = Args(S(commandLine), Dec(show));
    if (auto code = Injected("WinExec", args)) {
        Log("WinExec", args, Dec(*code));
        return *code < 32 ? *code : 2;
    }
    // WinExec returns once the program has started; "net" then asks the service control
    // manager. A start asked for while the spooler is still stopping is refused (net reports
    // the service as already started), so the spooler stays stopped.
    const std::string command = commandLine ? Upper(commandLine) : "";
    if (command == "NET STOP SPOOLER" && spoolerState_ == SERVICE_RUNNING) {
        RequestSpoolerStop();
    } else if (command == "NET START SPOOLER") {
        RequestSpoolerStart();
    }
    Log("WinExec", args, "33");
    return 33;
}

void FakeWindows::Sleep(DWORD milliseconds) {
    totalSleepMs_ += milliseconds;
    Log("Sleep", Dec(milliseconds), "");
    AdvanceSpooler();
}

void FakeWindows::ExitProcess(UINT exitCode) {
    if (!exitCode_) exitCode_ = exitCode;
    Log("ExitProcess", Dec(exitCode), "");
}

bool FakeWindows::OpenProcessToken(Handle process, DWORD desiredAccess, Handle* token) {
    const std::string args =
        Args(process == INVALID_HANDLE_VALUE ? "current process" : HandleText(process),
             Hex(desiredAccess));
    if (auto code = Injected("OpenProcessToken", args))
        return BoolResult("OpenProcessToken", args, *code);
    const Handle h = NewHandle("token");
    tokens_.insert(h);
    *token = h;
    return BoolResult("OpenProcessToken", args, 0, Cat("[", HandleText(h), "]"));
}

bool FakeWindows::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
    const std::string args = Args(S(systemName), S(name));
    if (auto code = Injected("LookupPrivilegeValueA", args))
        return BoolResult("LookupPrivilegeValueA", args, *code);
    if (!name || std::string(name) != "SeShutdownPrivilege")
        return BoolResult("LookupPrivilegeValueA", args, ERROR_NO_SUCH_PRIVILEGE);
    *luid = Luid{kShutdownPrivilegeLuid, 0};
    return BoolResult("LookupPrivilegeValueA", args, 0, "[luid 19]");
}

bool FakeWindows::AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                        const TokenPrivilege* newState) {
    const std::string args =
        Args(HandleText(token), disableAllPrivileges ? "TRUE" : "FALSE",
             newState ? Cat("{", Dec(newState->privilegeCount), ", luid ",
                            Dec(newState->luid.lowPart), ", ", Hex(newState->attributes), "}")
                      : std::string("NULL"));
    if (auto code = Injected("AdjustTokenPrivileges", args))
        return BoolResult("AdjustTokenPrivileges", args, *code);
    if (!tokens_.count(token))
        return BoolResult("AdjustTokenPrivileges", args, ERROR_INVALID_HANDLE);
    // Succeeds even when the privilege is not held; the last error tells.
    const bool shutdown = newState && newState->luid.lowPart == kShutdownPrivilegeLuid &&
                          (newState->attributes & SE_PRIVILEGE_ENABLED);
    lastError_ = (shutdown && !config_.shutdownPrivilegeHeld) ? ERROR_NOT_ALL_ASSIGNED : 0;
    if (shutdown && config_.shutdownPrivilegeHeld) shutdownEnabled_ = true;
    Log("AdjustTokenPrivileges", args, Cat("TRUE, last error ", Dec(lastError_)));
    return true;
}

bool FakeWindows::CloseHandle(Handle object) {
    const std::string args = HandleText(object);
    if (!tokens_.erase(object)) return BoolResult("CloseHandle", args, ERROR_INVALID_HANDLE);
    ReleaseHandle(object);
    return BoolResult("CloseHandle", args, 0);
}

bool FakeWindows::ExitWindowsEx(UINT flags, DWORD reason) {
    const std::string args = Args(Hex(flags), Dec(reason));
    if (auto code = Injected("ExitWindowsEx", args))
        return BoolResult("ExitWindowsEx", args, *code);
    if (!shutdownEnabled_) return BoolResult("ExitWindowsEx", args, ERROR_PRIVILEGE_NOT_HELD);
    restartFlags_ = flags;
    return BoolResult("ExitWindowsEx", args, 0);
}

}  // namespace tessaly::winsys::fake
