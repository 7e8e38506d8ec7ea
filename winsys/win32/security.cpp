// The project's own headers come first: they declare constants with the names that
// <windows.h> later defines as macros of the same value.
#include "win32_windows.h"

// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on

#include "conversions.h"

namespace tessaly::winsys {
using namespace detail;

// ---- Security ------------------------------------------------------------------------

DWORD Win32Windows::GetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo,
                                    Handle* dacl, Handle* securityDescriptor) {
    ::PACL realDacl = nullptr;
    ::PSECURITY_DESCRIPTOR descriptor = nullptr;
    const ::DWORD error =
        ::GetSecurityInfo(ToHandle(object), static_cast<::SE_OBJECT_TYPE>(objectType), securityInfo,
                          nullptr, nullptr, &realDacl, nullptr, &descriptor);
    if (dacl) *dacl = FromHandle(realDacl);
    if (securityDescriptor) *securityDescriptor = FromHandle(descriptor);
    return error;
}

void Win32Windows::BuildExplicitAccessWithNameA(ExplicitAccess* entry, const char* trusteeName,
                                                DWORD accessPermissions, DWORD accessMode,
                                                DWORD inheritance) {
    // The Win32 entry points at the trustee's name; it is built from these fields where it is
    // used (SetEntriesInAclA), while the name is still alive.
    entry->trusteeName = Text(trusteeName);
    entry->accessPermissions = accessPermissions;
    entry->accessMode = accessMode;
    entry->inheritance = inheritance;
}

DWORD Win32Windows::SetEntriesInAclA(DWORD count, const ExplicitAccess* entries, Handle oldAcl,
                                     Handle* newAcl) {
    std::vector<::EXPLICIT_ACCESS_A> real(count);
    for (DWORD i = 0; i < count; ++i)
        ::BuildExplicitAccessWithNameA(
            &real[i], Mutable(entries[i].trusteeName.c_str()), entries[i].accessPermissions,
            static_cast<::ACCESS_MODE>(entries[i].accessMode), entries[i].inheritance);
    ::PACL created = nullptr;
    const ::DWORD error =
        ::SetEntriesInAclA(count, real.data(), reinterpret_cast<::PACL>(oldAcl), &created);
    *newAcl = error == ERROR_SUCCESS ? FromHandle(created) : kNullHandle;
    return error;
}

DWORD Win32Windows::SetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo,
                                    Handle dacl) {
    return ::SetSecurityInfo(ToHandle(object), static_cast<::SE_OBJECT_TYPE>(objectType),
                             securityInfo, nullptr, nullptr, reinterpret_cast<::PACL>(dacl),
                             nullptr);
}

Handle Win32Windows::LocalFree(Handle memory) {
    return FromHandle(::LocalFree(reinterpret_cast<::HLOCAL>(memory)));
}

}  // namespace tessaly::winsys
