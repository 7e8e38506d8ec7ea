// The report shown when a system call that the installer or uninstaller makes fails: the call's
// name with " Error Code: <code>\n\n", followed by the system's own text for the code.
#pragma once

#include <string>
#include <string_view>

#include "winsys/windows_services.h"

namespace tessaly::removal {

std::string ErrorReportText(winsys::WindowsServices& sys, std::string_view callName,
                            winsys::DWORD code);

// Shows the report in a message box with the exclamation icon.
void ShowErrorReport(winsys::WindowsServices& sys, winsys::Handle owner, std::string_view callName,
                     winsys::DWORD code, const char* caption);

}  // namespace tessaly::removal
