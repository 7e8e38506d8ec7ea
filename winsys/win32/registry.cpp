// The project's own headers come first: they declare constants with the names that
// <windows.h> later defines as macros of the same value.
#include <cstdint>

#include "win32_windows.h"

// clang-format off
#include <windows.h>
// clang-format on

#include "conversions.h"

namespace tessaly::winsys {
using namespace detail;
namespace {

// The predefined roots are small negative numbers as handles; others are real handles.
::HKEY ToKey(HKEY key) {
    if (key >= 0x80000000u && key <= 0x80000006u)
        return reinterpret_cast<::HKEY>(
            static_cast<::LONG_PTR>(static_cast<std::int32_t>(static_cast<std::uint32_t>(key))));
    return reinterpret_cast<::HKEY>(key);
}

}  // namespace

// ---- Registry ------------------------------------------------------------------------

DWORD Win32Windows::RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                                  HKEY* result) {
    ::HKEY opened = nullptr;
    const ::LONG error = ::RegOpenKeyExA(ToKey(key), subKey, options, samDesired, &opened);
    *result = error == ERROR_SUCCESS ? FromHandle(opened) : kNullHandle;
    return static_cast<DWORD>(error);
}

DWORD Win32Windows::RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                                    HKEY* result, DWORD* disposition) {
    ::HKEY created = nullptr;
    ::DWORD realDisposition = 0;
    const ::LONG error = ::RegCreateKeyExA(ToKey(key), subKey, 0, nullptr, options, samDesired,
                                           nullptr, &created, &realDisposition);
    *result = error == ERROR_SUCCESS ? FromHandle(created) : kNullHandle;
    if (disposition) *disposition = realDisposition;
    return static_cast<DWORD>(error);
}

DWORD Win32Windows::RegSetValueExA(HKEY key, const char* valueName, DWORD type,
                                   const unsigned char* data, DWORD size) {
    return static_cast<DWORD>(::RegSetValueExA(ToKey(key), valueName, 0, type, data, size));
}

DWORD Win32Windows::RegQueryValueExA(HKEY key, const char* valueName, DWORD* type,
                                     unsigned char* data, DWORD* size) {
    ::DWORD realType = 0;
    ::DWORD realSize = size ? *size : 0;
    const ::LONG error = ::RegQueryValueExA(ToKey(key), valueName, nullptr, &realType, data,
                                            size ? &realSize : nullptr);
    if (type) *type = realType;
    if (size) *size = realSize;
    return static_cast<DWORD>(error);
}

DWORD Win32Windows::RegDeleteKeyExA(HKEY key, const char* subKey, DWORD samDesired,
                                    DWORD reserved) {
    return static_cast<DWORD>(::RegDeleteKeyExA(ToKey(key), subKey, samDesired, reserved));
}

DWORD Win32Windows::RegCloseKey(HKEY key) {
    return static_cast<DWORD>(::RegCloseKey(ToKey(key)));
}

DWORD Win32Windows::RegConnectRegistryA(const char* machineName, HKEY key, HKEY* result) {
    ::HKEY connected = nullptr;
    const ::LONG error = ::RegConnectRegistryA(machineName, ToKey(key), &connected);
    *result = error == ERROR_SUCCESS ? FromHandle(connected) : kNullHandle;
    return static_cast<DWORD>(error);
}

DWORD Win32Windows::RegEnumKeyExA(HKEY key, DWORD index, std::string& name) {
    char buffer[256] = {};  // a key name has at most 255 characters
    ::DWORD length = sizeof buffer;
    const ::LONG error =
        ::RegEnumKeyExA(ToKey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    name = error == ERROR_SUCCESS ? std::string(buffer, length) : std::string();
    return static_cast<DWORD>(error);
}

}  // namespace tessaly::winsys
