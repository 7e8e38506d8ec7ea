// Registry permission helper: changes the access list of one registry key from a textual
// permission text such as "/PG:Everyone:Fc", on the local or a remote machine.
//
// Permission text: up to three ":"-separated fields (empty fields are skipped).
//   1. switch: 2nd character "P" (any case) asks for a permission change, and the 3rd picks the
//      mode: G grant, S set, D deny, R revoke. Any other 2nd character means "not used".
//   2. trustee: account or group name, passed on unchanged.
//   3. rights (grant, set and deny only): pairs "Fc" (full control), "Rd" (read), "Wr" (write).
// Key path: ["\\machine\"] root ["\" subkey], roots HKLM, HKU, HKCR, HKCU or their long names;
// with a machine part only HKLM and HKU are allowed.
#pragma once

#include <string>
#include <string_view>

#include "removal_report.h"
#include "winsys/windows_services.h"

namespace tessaly::removal {

using winsys::DWORD;
using winsys::HKEY;
using winsys::WindowsServices;

inline constexpr char kGrantEveryoneFullControl[] = "/PG:Everyone:Fc";

// Access with which OpenKeyPath opens a key: reading its DACL needs READ_CONTROL and writing
// it back needs WRITE_DAC. Nothing more is asked for, so that a key whose DACL grants the
// caller no other right (as the device enumeration keys do) can still be opened up.
inline constexpr DWORD kKeyPermissionAccess = winsys::READ_CONTROL | winsys::WRITE_DAC;

inline constexpr DWORD kMaskFullControl = 0xF003F;
inline constexpr DWORD kMaskRead = 0x20019;
inline constexpr DWORD kMaskWrite = 0x20026;

struct KeyRights {
    DWORD error = 0;  // 0, or ERROR_INVALID_PARAMETER for odd length or an unknown pair
    DWORD mask = 0;
};

struct OpenedKey {
    DWORD error = 0;
    HKEY key = winsys::kNullHandle;
};

KeyRights ParseKeyRights(std::string_view text);

// Opens the key named by the path; the caller closes the handle with RegCloseKey.
OpenedKey OpenKeyPath(WindowsServices& sys, std::string_view keyPath);

// A key's DACL as it was before a change, inside its security descriptor; kept so that it can
// be written back, then released with LocalFree(descriptor).
struct SavedDacl {
    winsys::Handle dacl = winsys::kNullHandle;
    winsys::Handle descriptor = winsys::kNullHandle;
};

// Merges one entry into the key's DACL and writes the result back. With `before`, the DACL as
// it was is handed to the caller instead of being released.
DWORD MergeKeyAce(WindowsServices& sys, HKEY key, const winsys::ExplicitAccess& entry,
                  SavedDacl* before = nullptr);

DWORD ApplyKeyPermission(WindowsServices& sys, std::string_view keyPath,
                         std::string_view permission);

// Gives Everyone full control of the key at keyPath, then deletes subKey of HKEY_LOCAL_MACHINE
// (64-bit view). A missing key or a refused change ends silently. A key that is still there
// afterwards (it has subkeys, or the deletion was refused) gets its former DACL back, so it is
// never left open to everyone; when that fails, the report says so.
void GrantEveryoneAndDeleteKey(WindowsServices& sys, const std::string& keyPath,
                               const std::string& subKey, RemovalReport& report);

}  // namespace tessaly::removal
