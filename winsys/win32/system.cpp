// The project's own headers come first: they declare constants with the names that
// <windows.h> later defines as macros of the same value.
#include "win32_windows.h"

// clang-format off
#include <windows.h>
// clang-format on

#include "conversions.h"

namespace tessaly::winsys {
using namespace detail;

// ---- System information, profile, processes, power ----------------------------------

bool Win32Windows::GetComputerNameA(std::string& name, DWORD size) {
    std::vector<char> buffer(size + 1, '\0');
    ::DWORD length = size;
    const bool ok = ::GetComputerNameA(buffer.data(), &length);
    name = ok ? std::string(buffer.data(), length) : std::string();
    return ok;
}

bool Win32Windows::WriteProfileStringA(const char* section, const char* key, const char* value) {
    return ::WriteProfileStringA(section, key, value);
}

bool Win32Windows::GetVersionExA(OsVersionInfo* info) {
    ::OSVERSIONINFOA real{};
    real.dwOSVersionInfoSize = info->osVersionInfoSize;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const bool ok = ::GetVersionExA(&real);
#pragma GCC diagnostic pop
    if (!ok) return false;
    info->majorVersion = real.dwMajorVersion;
    info->minorVersion = real.dwMinorVersion;
    info->buildNumber = real.dwBuildNumber;
    info->platformId = real.dwPlatformId;
    info->csdVersion = real.szCSDVersion;
    return true;
}

Handle Win32Windows::GetCurrentProcess() {
    return FromHandle(::GetCurrentProcess());
}

Handle Win32Windows::GetModuleHandleA(const char* moduleName) {
    return FromHandle(::GetModuleHandleA(moduleName));
}

std::uintptr_t Win32Windows::GetProcAddress(Handle module, const char* procName) {
    return reinterpret_cast<std::uintptr_t>(
        ::GetProcAddress(reinterpret_cast<::HMODULE>(module), procName));
}

bool Win32Windows::IsWow64Process(Handle process, bool* wow64) {
    // Looked up at run time: systems older than Windows XP SP2 do not have it.
    using IsWow64ProcessFn = ::BOOL(WINAPI*)(::HANDLE, ::PBOOL);
    const auto call = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32"), "IsWow64Process")));
    if (!call) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    ::BOOL answer = FALSE;
    if (!call(ToHandle(process), &answer)) return false;
    *wow64 = answer != FALSE;
    return true;
}

UINT Win32Windows::WinExec(const char* commandLine, UINT show) {
    return ::WinExec(commandLine, show);
}

void Win32Windows::Sleep(DWORD milliseconds) {
    ::Sleep(milliseconds);
}

void Win32Windows::ExitProcess(UINT exitCode) {
    ::ExitProcess(exitCode);
}

bool Win32Windows::OpenProcessToken(Handle process, DWORD desiredAccess, Handle* token) {
    ::HANDLE opened = nullptr;
    const bool ok = ::OpenProcessToken(ToHandle(process), desiredAccess, &opened);
    *token = ok ? FromHandle(opened) : kNullHandle;
    return ok;
}

bool Win32Windows::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
    ::LUID real{};
    if (!::LookupPrivilegeValueA(systemName, name, &real)) return false;
    luid->lowPart = real.LowPart;
    luid->highPart = real.HighPart;
    return true;
}

bool Win32Windows::AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                         const TokenPrivilege* newState) {
    ::TOKEN_PRIVILEGES real{};
    real.PrivilegeCount = newState->privilegeCount;
    real.Privileges[0].Luid.LowPart = newState->luid.lowPart;
    real.Privileges[0].Luid.HighPart = newState->luid.highPart;
    real.Privileges[0].Attributes = newState->attributes;
    return ::AdjustTokenPrivileges(ToHandle(token), disableAllPrivileges, &real, 0, nullptr,
                                   nullptr);
}

bool Win32Windows::CloseHandle(Handle object) {
    return ::CloseHandle(ToHandle(object));
}

bool Win32Windows::ExitWindowsEx(UINT flags, DWORD reason) {
    return ::ExitWindowsEx(flags, reason);
}

}  // namespace tessaly::winsys
