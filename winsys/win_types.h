// Small, self-contained shapes of the Win32 types and constants that the installer and the
// removal code use. The numeric values are those of the Windows SDK, so that a Win32 back end
// can pass them straight through and error codes read the same on every platform.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace tessaly::winsys {

using DWORD = std::uint32_t;
using UINT = std::uint32_t;
// Opaque handle of any kind (key, printer, find handle, INF, device set, token, memory).
using Handle = std::uintptr_t;
using HKEY = Handle;

inline constexpr Handle kNullHandle = 0;
inline constexpr Handle INVALID_HANDLE_VALUE = std::numeric_limits<Handle>::max();

// Predefined registry roots.
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;

// Error codes (GetLastError / registry and security results).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_BAD_NETPATH = 53;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_DIRECTORY = 267;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;
inline constexpr DWORD ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr DWORD ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr DWORD ERROR_NOT_ALL_ASSIGNED = 1300;
inline constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;
inline constexpr DWORD ERROR_NONE_MAPPED = 1332;
inline constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;
inline constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;
inline constexpr DWORD ERROR_PRINTER_DRIVER_ALREADY_INSTALLED = 1795;
inline constexpr DWORD ERROR_UNKNOWN_PORT = 1796;
inline constexpr DWORD ERROR_UNKNOWN_PRINTER_DRIVER = 1797;
inline constexpr DWORD ERROR_UNKNOWN_PRINTPROCESSOR = 1798;
inline constexpr DWORD ERROR_INVALID_PRINTER_NAME = 1801;
inline constexpr DWORD ERROR_PRINTER_ALREADY_EXISTS = 1802;
inline constexpr DWORD ERROR_INVALID_ENVIRONMENT = 1805;
inline constexpr DWORD ERROR_INVALID_FORM_NAME = 1902;
inline constexpr DWORD ERROR_UNKNOWN_PRINT_MONITOR = 3000;
inline constexpr DWORD ERROR_PRINTER_DRIVER_IN_USE = 3001;
inline constexpr DWORD ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED = 3005;
inline constexpr DWORD ERROR_PRINT_MONITOR_ALREADY_INSTALLED = 3006;
inline constexpr DWORD ERROR_PRINT_MONITOR_IN_USE = 3008;
inline constexpr DWORD ERROR_SECTION_NOT_FOUND = 0xE0000101;
inline constexpr DWORD ERROR_LINE_NOT_FOUND = 0xE0000102;

// Registry access rights and options.
inline constexpr DWORD DELETE = 0x00010000;
inline constexpr DWORD READ_CONTROL = 0x00020000;
inline constexpr DWORD WRITE_DAC = 0x00040000;
inline constexpr DWORD KEY_QUERY_VALUE = 0x0001;
inline constexpr DWORD KEY_SET_VALUE = 0x0002;
inline constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr DWORD KEY_NOTIFY = 0x0010;
inline constexpr DWORD KEY_WOW64_64KEY = 0x0100;
inline constexpr DWORD KEY_WOW64_32KEY = 0x0200;
inline constexpr DWORD KEY_READ = 0x20019;
inline constexpr DWORD KEY_WRITE = 0x20006;
inline constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_DWORD = 4;

// Security (access control lists).
inline constexpr DWORD SE_REGISTRY_KEY = 4;
inline constexpr DWORD DACL_SECURITY_INFORMATION = 4;
inline constexpr DWORD NOT_USED_ACCESS = 0;
inline constexpr DWORD GRANT_ACCESS = 1;
inline constexpr DWORD SET_ACCESS = 2;
inline constexpr DWORD DENY_ACCESS = 3;
inline constexpr DWORD REVOKE_ACCESS = 4;
inline constexpr DWORD NO_INHERITANCE = 0;
inline constexpr DWORD SUB_CONTAINERS_ONLY_INHERIT = 2;

// Explicit access entry with a trustee given by name (TRUSTEE_IS_NAME).
struct ExplicitAccess {
    DWORD accessPermissions = 0;
    DWORD accessMode = NOT_USED_ACCESS;
    DWORD inheritance = NO_INHERITANCE;
    std::string trusteeName;
};

// Print spooler.
inline constexpr DWORD PRINTER_ENUM_LOCAL = 0x2;
inline constexpr DWORD PRINTER_ALL_ACCESS = 0xF000C;
inline constexpr DWORD DPD_DELETE_UNUSED_FILES = 0x1;
inline constexpr DWORD DPD_DELETE_ALL_FILES = 0x4;
inline constexpr DWORD PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST = 0x200;
inline constexpr DWORD PRINTER_ATTRIBUTE_ENABLE_BIDI = 0x800;
inline constexpr DWORD PRINTER_ATTRIBUTE_RAW_ONLY = 0x1000;
inline constexpr DWORD PRINTER_STATUS_PENDING_DELETION = 0x4;
inline constexpr DWORD PRINTER_STATUS_OFFLINE = 0x80;

struct PrinterDefaults {
    const char* datatype = nullptr;  // no device mode is ever passed
    DWORD desiredAccess = 0;
};

// PRINTER_INFO_2 without the device mode and security descriptor, which are always none here.
struct PrinterInfo2 {
    std::string serverName, printerName, shareName, portName, driverName, comment, location,
        sepFile, printProcessor, datatype, parameters;
    DWORD attributes = 0, priority = 0, defaultPriority = 0, startTime = 0, untilTime = 0,
          status = 0, cJobs = 0, averagePPM = 0;
};

// DRIVER_INFO_3 (also what a level-4 enumeration reports of each driver here).
// dependentFiles holds zero-terminated names followed by one more zero.
struct DriverInfo3 {
    DWORD version = 0;
    std::string name, environment, driverPath, dataFile, configFile, helpFile, dependentFiles,
        monitorName, defaultDataType;
};

struct MonitorInfo2 {
    std::string name, environment, dllName;
};

struct FormInfo1 {
    DWORD flags = 0;
    std::string name;
};

// Files.
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
// A junction or symbolic link: deleting it must never reach what it points at.
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

struct FindData {
    DWORD fileAttributes = 0;
    std::string fileName;
};

// Setup API.
inline constexpr DWORD SPOST_PATH = 1;
inline constexpr DWORD SP_COPY_NOOVERWRITE = 0x8;
inline constexpr DWORD SUOI_FORCEDELETE = 0x1;
inline constexpr DWORD INF_STYLE_OLDNT = 0x1;
inline constexpr DWORD INF_STYLE_WIN4 = 0x2;
inline constexpr DWORD DIGCF_PRESENT = 0x2;
inline constexpr DWORD DIGCF_ALLCLASSES = 0x4;
inline constexpr DWORD SPDRP_HARDWAREID = 0x1;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD kSpDevinfoDataSize32 = 28;  // sizeof(SP_DEVINFO_DATA) in a 32-bit program

struct SpDevinfoData {
    DWORD cbSize = 0;
    DWORD devInst = 0;
};

struct InfContext {
    Handle inf = kNullHandle;
    DWORD section = 0;
    DWORD line = 0;
};

// Tokens and power.
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x20;
inline constexpr DWORD TOKEN_QUERY = 0x8;
inline constexpr DWORD SE_PRIVILEGE_ENABLED = 0x2;
inline constexpr DWORD EWX_REBOOT = 0x2;
inline constexpr DWORD EWX_FORCE = 0x4;
// Ends only programs that do not answer; the others may ask their users to save first.
inline constexpr DWORD EWX_FORCEIFHUNG = 0x10;

struct Luid {
    DWORD lowPart = 0;
    std::int32_t highPart = 0;
};

// TOKEN_PRIVILEGES with exactly one privilege, the only form used here.
struct TokenPrivilege {
    DWORD privilegeCount = 1;
    Luid luid;
    DWORD attributes = 0;
};

// Version information (OSVERSIONINFOA, 148 bytes in the real structure).
inline constexpr DWORD kOsVersionInfoSize = 148;

struct OsVersionInfo {
    DWORD osVersionInfoSize = 0;
    DWORD majorVersion = 0;
    DWORD minorVersion = 0;
    DWORD buildNumber = 0;
    DWORD platformId = 0;
    std::string csdVersion;
};

// Services (the print spooler is stopped and started through the service control manager).
inline constexpr DWORD SC_MANAGER_CONNECT = 0x1;
inline constexpr DWORD SERVICE_QUERY_STATUS = 0x4;
inline constexpr DWORD SERVICE_START = 0x10;
inline constexpr DWORD SERVICE_STOP = 0x20;
inline constexpr DWORD SERVICE_CONTROL_STOP = 0x1;
inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;

// SERVICE_STATUS, the fields read here.
struct ServiceStatus {
    DWORD currentState = 0;
    DWORD win32ExitCode = 0;
    DWORD checkPoint = 0;
    DWORD waitHint = 0;
};

// Programs and message boxes.
inline constexpr UINT SW_HIDE = 0;
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
inline constexpr DWORD kLangEnglishUs = 1033;

}  // namespace tessaly::winsys
