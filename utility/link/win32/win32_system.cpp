#include "win32_system.h"

namespace tessaly {

std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message =
        length != 0 && text != nullptr ? std::string(text, length) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty()) message = "system error " + std::to_string(code);
    return message;
}

bool IsLegacyVersion(DWORD version) {
    const DWORD major = version & 0xFF;
    return (version & 0x80000000u) != 0 && major >= 4;
}

bool isLegacyWindows() {
    return IsLegacyVersion(GetVersion());
}

std::string OpenFailureText(const std::string& name, DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
            return "There is no port " + name +
                   " on this computer: pick a port from the list, or check that the adapter is "
                   "plugged in.";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return name + " is in use by another program: close that program and try again.";
        default:
            return name + " cannot be opened: " + SystemMessage(code) + ".";
    }
}

}  // namespace tessaly
