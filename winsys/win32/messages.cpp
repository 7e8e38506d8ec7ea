// The project's own headers come first: they declare constants with the names that
// <windows.h> later defines as macros of the same value.
#include "win32_windows.h"

// clang-format off
#include <windows.h>
// clang-format on

#include "conversions.h"

namespace tessaly::winsys {
using namespace detail;

// ---- Errors and messages -------------------------------------------------------------

DWORD Win32Windows::GetLastError() {
    return ::GetLastError();
}

std::string Win32Windows::FormatMessageA(DWORD flags, DWORD messageId, DWORD languageId) {
    char* text = nullptr;
    // The text is returned as a string, so the system always allocates the buffer.
    const ::DWORD length =
        ::FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, messageId, languageId,
                         reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = (length != 0 && text) ? std::string(text, length) : std::string();
    if (text) ::LocalFree(text);
    return result;
}

int Win32Windows::MessageBoxA(Handle owner, const char* text, const char* caption, UINT type) {
    return ::MessageBoxA(reinterpret_cast<::HWND>(owner), text, caption, type);
}

}  // namespace tessaly::winsys
