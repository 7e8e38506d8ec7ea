// The project's own headers come first: they declare constants with the names that
// <windows.h> later defines as macros of the same value.
#include "win32_windows.h"

// clang-format off
#include <windows.h>
#include <winsvc.h>
// clang-format on

#include "conversions.h"

namespace tessaly::winsys {
using namespace detail;
namespace {

void CopyStatus(const ::SERVICE_STATUS& real, ServiceStatus* status) {
    if (!status) return;
    status->currentState = real.dwCurrentState;
    status->win32ExitCode = real.dwWin32ExitCode;
    status->checkPoint = real.dwCheckPoint;
    status->waitHint = real.dwWaitHint;
}

::SC_HANDLE ToService(Handle h) {
    return reinterpret_cast<::SC_HANDLE>(h);
}

}  // namespace

// ---- Services ------------------------------------------------------------------------

Handle Win32Windows::OpenSCManagerA(const char* machineName, const char* databaseName,
                                    DWORD desiredAccess) {
    return FromHandle(::OpenSCManagerA(machineName, databaseName, desiredAccess));
}

Handle Win32Windows::OpenServiceA(Handle manager, const char* serviceName, DWORD desiredAccess) {
    return FromHandle(::OpenServiceA(ToService(manager), serviceName, desiredAccess));
}

bool Win32Windows::ControlService(Handle service, DWORD control, ServiceStatus* status) {
    ::SERVICE_STATUS real{};
    const bool ok = ::ControlService(ToService(service), control, &real);
    CopyStatus(real, status);
    return ok;
}

bool Win32Windows::StartServiceA(Handle service) {
    return ::StartServiceA(ToService(service), 0, nullptr);
}

bool Win32Windows::QueryServiceStatus(Handle service, ServiceStatus* status) {
    ::SERVICE_STATUS real{};
    const bool ok = ::QueryServiceStatus(ToService(service), &real);
    CopyStatus(real, status);
    return ok;
}

bool Win32Windows::CloseServiceHandle(Handle object) {
    return ::CloseServiceHandle(ToService(object));
}

}  // namespace tessaly::winsys
