#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {

using namespace detail;

// ---- Services ------------------------------------------------------------------------------
//
// One service, the print spooler. A stop or start request is accepted at once and completes
// after the configured time has been slept, as the real one does while its caller waits;
// in between the spooler answers no call.

void FakeWindows::RequestSpoolerStop() {
    spoolerState_ = SERVICE_STOP_PENDING;
    spoolerPendingUntil_ = totalSleepMs_ + config_.spoolerStopMs;
    AdvanceSpooler();
}

bool FakeWindows::RequestSpoolerStart() {
    if (spoolerState_ != SERVICE_STOPPED) return false;
    spoolerState_ = SERVICE_START_PENDING;
    spoolerPendingUntil_ = totalSleepMs_ + config_.spoolerStartMs;
    AdvanceSpooler();
    return true;
}

void FakeWindows::SpoolerStarted() {
    // Queues marked for deletion are gone once the spooler starts again, with their keys;
    // objects whose keys were deleted while it was away are forgotten.
    for (const FakePrinter& p : printers_)
        if (p.info.status & PRINTER_STATUS_PENDING_DELETION)
            EraseKeyTree(PrintKey("Printers\\" + p.info.printerName));
    ReloadSpoolerFromRegistry();
}

void FakeWindows::AdvanceSpooler() {
    if (totalSleepMs_ < spoolerPendingUntil_) return;
    if (spoolerState_ == SERVICE_STOP_PENDING) {
        spoolerState_ = SERVICE_STOPPED;
    } else if (spoolerState_ == SERVICE_START_PENDING) {
        spoolerState_ = SERVICE_RUNNING;
        SpoolerStarted();
    }
}

DWORD FakeWindows::ServiceAccess(Handle service, DWORD needed) const {
    const auto h = serviceHandles_.find(service);
    if (h == serviceHandles_.end() || h->second.manager) return ERROR_INVALID_HANDLE;
    return (h->second.access & needed) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

Handle FakeWindows::OpenSCManagerA(const char* machineName, const char* databaseName,
                                   DWORD desiredAccess) {
    const std::string args = Args(S(machineName), S(databaseName), Hex(desiredAccess));
    auto fail = [&](DWORD code) {
        lastError_ = code;
        Log("OpenSCManagerA", args, Cat("NULL, error ", Dec(code)));
        return kNullHandle;
    };
    if (auto code = Injected("OpenSCManagerA", args)) return fail(*code);
    const Handle h = NewHandle("service control manager");
    serviceHandles_[h] = ServiceHandle{true, desiredAccess};
    Log("OpenSCManagerA", args, HandleText(h));
    return h;
}

Handle FakeWindows::OpenServiceA(Handle manager, const char* serviceName, DWORD desiredAccess) {
    const std::string args = Args(HandleText(manager), S(serviceName), Hex(desiredAccess));
    auto fail = [&](DWORD code) {
        lastError_ = code;
        Log("OpenServiceA", args, Cat("NULL, error ", Dec(code)));
        return kNullHandle;
    };
    if (auto code = Injected("OpenServiceA", args)) return fail(*code);
    const auto m = serviceHandles_.find(manager);
    if (m == serviceHandles_.end() || !m->second.manager) return fail(ERROR_INVALID_HANDLE);
    if (!serviceName || !IEquals(serviceName, "Spooler")) return fail(ERROR_SERVICE_DOES_NOT_EXIST);
    const Handle h = NewHandle("service Spooler");
    serviceHandles_[h] = ServiceHandle{false, desiredAccess};
    Log("OpenServiceA", args, HandleText(h));
    return h;
}

bool FakeWindows::ControlService(Handle service, DWORD control, ServiceStatus* status) {
    const std::string args = Args(HandleText(service), Dec(control));
    if (auto code = Injected("ControlService", args))
        return BoolResult("ControlService", args, *code);
    if (const DWORD error = ServiceAccess(service, SERVICE_STOP))
        return BoolResult("ControlService", args, error);
    if (control != SERVICE_CONTROL_STOP)
        return BoolResult("ControlService", args, ERROR_INVALID_PARAMETER);
    if (spoolerState_ == SERVICE_STOPPED)
        return BoolResult("ControlService", args, ERROR_SERVICE_NOT_ACTIVE);
    if (spoolerState_ != SERVICE_RUNNING)
        return BoolResult("ControlService", args, ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    RequestSpoolerStop();
    if (status) *status = ServiceStatus{spoolerState_, 0, 1, config_.spoolerStopMs};
    return BoolResult("ControlService", args, 0, Cat("[state ", Dec(spoolerState_), "]"));
}

bool FakeWindows::StartServiceA(Handle service) {
    const std::string args = HandleText(service);
    if (auto code = Injected("StartServiceA", args))
        return BoolResult("StartServiceA", args, *code);
    if (const DWORD error = ServiceAccess(service, SERVICE_START))
        return BoolResult("StartServiceA", args, error);
    if (!RequestSpoolerStart())
        return BoolResult("StartServiceA", args, ERROR_SERVICE_ALREADY_RUNNING);
    return BoolResult("StartServiceA", args, 0);
}

bool FakeWindows::QueryServiceStatus(Handle service, ServiceStatus* status) {
    const std::string args = HandleText(service);
    if (auto code = Injected("QueryServiceStatus", args))
        return BoolResult("QueryServiceStatus", args, *code);
    if (const DWORD error = ServiceAccess(service, SERVICE_QUERY_STATUS))
        return BoolResult("QueryServiceStatus", args, error);
    const bool pending =
        spoolerState_ == SERVICE_STOP_PENDING || spoolerState_ == SERVICE_START_PENDING;
    *status = ServiceStatus{spoolerState_, 0, pending ? 1u : 0u,
                            pending ? spoolerPendingUntil_ - totalSleepMs_ : 0u};
    return BoolResult("QueryServiceStatus", args, 0, Cat("[state ", Dec(spoolerState_), "]"));
}

bool FakeWindows::CloseServiceHandle(Handle object) {
    const std::string args = HandleText(object);
    if (!serviceHandles_.erase(object))
        return BoolResult("CloseServiceHandle", args, ERROR_INVALID_HANDLE);
    ReleaseHandle(object);
    return BoolResult("CloseServiceHandle", args, 0);
}

}  // namespace tessaly::winsys::fake
