// STAND-IN, NOT THE DRIVER'S LANGUAGE MONITOR. Built as MONR3.DLL only so that the installer's
// AddMonitorA can load a 32-bit monitor DLL under Wine in the integration tests. The real
// monitor is a component of the printer driver and outside this system.
//
// It hands the spooler a MONITOR2 whose port calls all refuse with ERROR_NOT_SUPPORTED: no job
// is ever printed through it.
#include <windows.h>
#include <winsplp.h>

namespace {

BOOL WINAPI OpenPortEx(HANDLE, HANDLE, LPWSTR, LPWSTR, PHANDLE, MONITOR2*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL WINAPI StartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL WINAPI WritePort(HANDLE, LPBYTE, DWORD, LPDWORD written) {
    if (written) *written = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL WINAPI ReadPort(HANDLE, LPBYTE, DWORD, LPDWORD read) {
    if (read) *read = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL WINAPI EndDocPort(HANDLE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
BOOL WINAPI ClosePort(HANDLE) {
    return TRUE;
}
VOID WINAPI Shutdown(HANDLE) {}

MONITOR2 MakeMonitor() {
    MONITOR2 monitor{};
    monitor.cbSize = sizeof monitor;
    monitor.pfnOpenPortEx = &OpenPortEx;
    monitor.pfnStartDocPort = &StartDocPort;
    monitor.pfnWritePort = &WritePort;
    monitor.pfnReadPort = &ReadPort;
    monitor.pfnEndDocPort = &EndDocPort;
    monitor.pfnClosePort = &ClosePort;
    monitor.pfnShutdown = &Shutdown;
    return monitor;
}

MONITOR2 g_monitor = MakeMonitor();

}  // namespace

extern "C" __declspec(dllexport) LPMONITOR2 WINAPI
    InitializePrintMonitor2(PMONITORINIT, PHANDLE monitor) {
    if (monitor) *monitor = reinterpret_cast<HANDLE>(&g_monitor);
    return &g_monitor;
}
