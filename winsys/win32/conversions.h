// Conversions between the interface's types and the Win32 API's, shared by the files of the
// Win32 back end.
#pragma once

#include <limits>
#include <string>

#include "win32_windows.h"

// clang-format off
#include <windows.h>
// clang-format on

namespace tessaly::winsys::detail {

inline constexpr Handle kInvalid = std::numeric_limits<Handle>::max();

inline ::HANDLE ToHandle(Handle h) {
    return reinterpret_cast<::HANDLE>(h);
}
inline Handle FromHandle(const void* h) {
    return reinterpret_cast<Handle>(h);
}

// Win32 wants writable pointers for strings it only reads.
inline char* Mutable(const char* text) {
    return const_cast<char*>(text);
}
inline char* MutableOrNull(const std::string& text) {
    return text.empty() ? nullptr : const_cast<char*>(text.c_str());
}
inline std::string Text(const char* text) {
    return text ? std::string(text) : std::string();
}

}  // namespace tessaly::winsys::detail
