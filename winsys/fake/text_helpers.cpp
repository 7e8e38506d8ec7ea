#include "text_helpers.h"

#include <cctype>
#include <cstdio>

#include "journal.h"

namespace tessaly::winsys::fake::detail {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool IEquals(std::string_view a, std::string_view b) {
    return Upper(a) == Upper(b);
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

std::string S(const char* text) {
    return text ? Cat("\"", Escape(text), "\"") : "NULL";
}

std::string S(const std::string& text) {
    return Cat("\"", Escape(text), "\"");
}

std::string Hex(DWORD value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", value);
    return buffer;
}

std::string Dec(std::uint64_t value) {
    return std::to_string(value);
}

std::string RootName(HKEY key) {
    switch (key) {
        case HKEY_CLASSES_ROOT:
            return "HKEY_CLASSES_ROOT";
        case HKEY_CURRENT_USER:
            return "HKEY_CURRENT_USER";
        case HKEY_LOCAL_MACHINE:
            return "HKEY_LOCAL_MACHINE";
        case HKEY_USERS:
            return "HKEY_USERS";
        default:
            return {};
    }
}

std::string RootShort(HKEY key) {
    switch (key) {
        case HKEY_CLASSES_ROOT:
            return "HKCR";
        case HKEY_CURRENT_USER:
            return "HKCU";
        case HKEY_LOCAL_MACHINE:
            return "HKLM";
        case HKEY_USERS:
            return "HKU";
        default:
            return {};
    }
}

std::string FileNameOf(const std::string& path) {
    const auto pos = path.rfind('\\');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

bool IsAbsolutePath(const char* path) {
    const std::string_view p(path ? path : "");
    return (p.size() >= 3 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) ||
           p.substr(0, 2) == "\\\\";
}

}  // namespace tessaly::winsys::fake::detail
