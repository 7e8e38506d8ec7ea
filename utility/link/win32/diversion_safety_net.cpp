#include "diversion_safety_net.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>

#include "port_diversion.h"

namespace tessaly {
namespace {

extern "C" void RestoreAtExit() {
    RestoreAllDiversions();
}

BOOL WINAPI OnConsoleEvent(DWORD) {
    RestoreAllDiversions();
    return FALSE;  // let the default handling end the process
}

}  // namespace

void InstallDiversionSafetyNet() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        std::atexit(RestoreAtExit);
        SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    });
}

}  // namespace tessaly
