// The project's own headers come first: they declare constants with the names that
// <windows.h> later defines as macros of the same value.
#include "win32_windows.h"

// clang-format off
#include <windows.h>
// clang-format on

#include "conversions.h"

namespace tessaly::winsys {
using namespace detail;

// ---- Files and directories -----------------------------------------------------------

bool Win32Windows::CopyFileA(const char* existingFile, const char* newFile, bool failIfExists) {
    return ::CopyFileA(existingFile, newFile, failIfExists);
}

bool Win32Windows::DeleteFileA(const char* fileName) {
    return ::DeleteFileA(fileName);
}

DWORD Win32Windows::GetFileAttributesA(const char* fileName) {
    return ::GetFileAttributesA(fileName);
}

bool Win32Windows::SetFileAttributesA(const char* fileName, DWORD attributes) {
    return ::SetFileAttributesA(fileName, attributes);
}

Handle Win32Windows::FindFirstFileA(const char* pattern, FindData* data) {
    ::WIN32_FIND_DATAA found{};
    const ::HANDLE find = ::FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) return kInvalid;
    data->fileAttributes = found.dwFileAttributes;
    data->fileName = found.cFileName;
    return FromHandle(find);
}

bool Win32Windows::FindNextFileA(Handle find, FindData* data) {
    ::WIN32_FIND_DATAA found{};
    if (!::FindNextFileA(ToHandle(find), &found)) return false;
    data->fileAttributes = found.dwFileAttributes;
    data->fileName = found.cFileName;
    return true;
}

bool Win32Windows::FindClose(Handle find) {
    return ::FindClose(ToHandle(find));
}

bool Win32Windows::CreateDirectoryA(const char* pathName) {
    return ::CreateDirectoryA(pathName, nullptr);
}

bool Win32Windows::RemoveDirectoryA(const char* pathName) {
    return ::RemoveDirectoryA(pathName);
}

UINT Win32Windows::GetWindowsDirectoryA(std::string& directory) {
    char buffer[MAX_PATH] = {};
    const ::UINT length = ::GetWindowsDirectoryA(buffer, MAX_PATH);
    directory = length != 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
    return static_cast<UINT>(directory.size());
}

UINT Win32Windows::GetSystemDirectoryA(std::string& directory) {
    char buffer[MAX_PATH] = {};
    const ::UINT length = ::GetSystemDirectoryA(buffer, MAX_PATH);
    directory = length != 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
    return static_cast<UINT>(directory.size());
}

UINT Win32Windows::GetSystemWow64DirectoryA(std::string& directory) {
    char buffer[MAX_PATH] = {};
    const ::UINT length = ::GetSystemWow64DirectoryA(buffer, MAX_PATH);
    directory = length != 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
    return static_cast<UINT>(directory.size());
}

DWORD Win32Windows::GetFullPathNameA(const char* fileName, std::string& fullPath) {
    char buffer[MAX_PATH] = {};
    const ::DWORD length = ::GetFullPathNameA(fileName, MAX_PATH, buffer, nullptr);
    fullPath = length != 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
    return static_cast<DWORD>(fullPath.size());
}

}  // namespace tessaly::winsys
