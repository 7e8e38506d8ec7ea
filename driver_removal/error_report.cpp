#include "error_report.h"

#include <cstdint>

namespace tessaly::removal {

std::string ErrorReportText(winsys::WindowsServices& sys, std::string_view callName,
                            winsys::DWORD code) {
    // The code is printed as a signed decimal number, as "%d" does.
    std::string text = std::string(callName) +
                       " Error Code: " + std::to_string(static_cast<std::int32_t>(code)) + "\n\n";
    text += sys.FormatMessageA(
        winsys::FORMAT_MESSAGE_ALLOCATE_BUFFER | winsys::FORMAT_MESSAGE_FROM_SYSTEM, code,
        winsys::kLangEnglishUs);
    return text;
}

void ShowErrorReport(winsys::WindowsServices& sys, winsys::Handle owner, std::string_view callName,
                     winsys::DWORD code, const char* caption) {
    const std::string text = ErrorReportText(sys, callName, code);
    sys.MessageBoxA(owner, text.c_str(), caption, winsys::MB_OK | winsys::MB_ICONEXCLAMATION);
}

}  // namespace tessaly::removal
