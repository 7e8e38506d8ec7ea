// The Windows services that the installer, the uninstaller and the removal code call.
//
// winsys/ is the layer those programs stand on: this interface and the Win32 types it uses,
// the Win32 back end (win32/) and an in-memory Windows for the tests (fake/). Both are split
// by API family as the interface is grouped: messages, spooler, registry, security, files,
// Setup API, services, system.
//
// Each member has the name, argument meaning and result of the Win32 call it stands for, so
// that a Win32 back end is a thin pass-through and the sequences read call for call like the
// Windows program they are. Nullable string arguments are `const char*` (nullptr = NULL).
// Calls that return BOOL or a handle in Win32 report their error through GetLastError(); the
// registry and security calls return the error code directly, as they do in Win32.
//
// Where Win32 wants a size query followed by a second call with a buffer, the member returns
// the whole list: the back end performs both calls (with the documented buffer sizes).
#pragma once

#include <string>
#include <vector>

#include "win_types.h"

namespace tessaly::winsys {

class WindowsServices {
  public:
    virtual ~WindowsServices() = default;

    // ---- Errors and messages ----------------------------------------------------------
    virtual DWORD GetLastError() = 0;
    // FormatMessageA(flags, code, language): the system's text for the code, empty on failure.
    virtual std::string FormatMessageA(DWORD flags, DWORD messageId, DWORD languageId) = 0;
    virtual int MessageBoxA(Handle owner, const char* text, const char* caption, UINT type) = 0;

    // ---- Print spooler ----------------------------------------------------------------
    // printerName nullptr opens the local print server; defaults nullptr passes no defaults.
    virtual bool OpenPrinterA(const char* printerName, Handle* printer,
                              const PrinterDefaults* defaults) = 0;
    virtual bool ClosePrinter(Handle printer) = 0;
    virtual bool DeletePrinter(Handle printer) = 0;
    virtual bool EnumPrintersA(DWORD flags, const char* name, DWORD level,
                               std::vector<PrinterInfo2>& printers) = 0;
    // Returns the new printer's handle, kNullHandle on failure.
    virtual Handle AddPrinterA(const char* serverName, DWORD level, const PrinterInfo2& info) = 0;
    virtual DWORD GetPrinterDataA(Handle printer, const char* valueName, DWORD* type,
                                  unsigned char* data, DWORD size, DWORD* needed) = 0;
    virtual bool EnumPrinterDriversA(const char* serverName, const char* environment, DWORD level,
                                     std::vector<DriverInfo3>& drivers) = 0;
    virtual bool AddPrinterDriverA(const char* serverName, DWORD level,
                                   const DriverInfo3& info) = 0;
    virtual bool DeletePrinterDriverExA(const char* serverName, const char* environment,
                                        const char* driverName, DWORD deleteFlag,
                                        DWORD versionFlag) = 0;
    virtual bool GetPrinterDriverDirectoryA(const char* serverName, const char* environment,
                                            DWORD level, std::string& directory) = 0;
    virtual bool EnumPrintProcessorsA(const char* serverName, const char* environment, DWORD level,
                                      std::vector<std::string>& names) = 0;
    virtual bool AddPrintProcessorA(const char* serverName, const char* environment,
                                    const char* pathName, const char* printProcessorName) = 0;
    virtual bool DeletePrintProcessorA(const char* serverName, const char* environment,
                                       const char* printProcessorName) = 0;
    virtual bool GetPrintProcessorDirectoryA(const char* serverName, const char* environment,
                                             DWORD level, std::string& directory) = 0;
    virtual bool AddMonitorA(const char* serverName, DWORD level, const MonitorInfo2& info) = 0;
    virtual bool DeleteMonitorA(const char* serverName, const char* environment,
                                const char* monitorName) = 0;
    virtual bool EnumFormsA(Handle printer, DWORD level, std::vector<FormInfo1>& forms) = 0;
    virtual bool DeleteFormA(Handle printer, const char* formName) = 0;

    // ---- Registry ---------------------------------------------------------------------
    virtual DWORD RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                                HKEY* result) = 0;
    virtual DWORD RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                                  HKEY* result, DWORD* disposition) = 0;
    virtual DWORD RegSetValueExA(HKEY key, const char* valueName, DWORD type,
                                 const unsigned char* data, DWORD size) = 0;
    // size: in, the buffer's size; out, the bytes stored (or needed, with ERROR_MORE_DATA).
    virtual DWORD RegQueryValueExA(HKEY key, const char* valueName, DWORD* type,
                                   unsigned char* data, DWORD* size) = 0;
    virtual DWORD RegDeleteKeyExA(HKEY key, const char* subKey, DWORD samDesired,
                                  DWORD reserved) = 0;
    virtual DWORD RegCloseKey(HKEY key) = 0;
    virtual DWORD RegConnectRegistryA(const char* machineName, HKEY key, HKEY* result) = 0;
    // The name of the subkey at this index; ERROR_NO_MORE_ITEMS past the last one.
    virtual DWORD RegEnumKeyExA(HKEY key, DWORD index, std::string& name) = 0;

    // ---- Security -----------------------------------------------------------------------
    // dacl points into securityDescriptor; LocalFree(securityDescriptor) releases both.
    virtual DWORD GetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo, Handle* dacl,
                                  Handle* securityDescriptor) = 0;
    virtual void BuildExplicitAccessWithNameA(ExplicitAccess* entry, const char* trusteeName,
                                              DWORD accessPermissions, DWORD accessMode,
                                              DWORD inheritance) = 0;
    virtual DWORD SetEntriesInAclA(DWORD count, const ExplicitAccess* entries, Handle oldAcl,
                                   Handle* newAcl) = 0;
    virtual DWORD SetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo,
                                  Handle dacl) = 0;
    // Returns kNullHandle on success.
    virtual Handle LocalFree(Handle memory) = 0;

    // ---- Files and directories ------------------------------------------------------
    virtual bool CopyFileA(const char* existingFile, const char* newFile, bool failIfExists) = 0;
    virtual bool DeleteFileA(const char* fileName) = 0;
    virtual DWORD GetFileAttributesA(const char* fileName) = 0;
    virtual bool SetFileAttributesA(const char* fileName, DWORD attributes) = 0;
    virtual Handle FindFirstFileA(const char* pattern, FindData* data) = 0;
    virtual bool FindNextFileA(Handle find, FindData* data) = 0;
    virtual bool FindClose(Handle find) = 0;
    virtual bool CreateDirectoryA(const char* pathName) = 0;
    virtual bool RemoveDirectoryA(const char* pathName) = 0;
    // Directory queries return the length of the text (0 on failure), as in Win32.
    virtual UINT GetWindowsDirectoryA(std::string& directory) = 0;
    virtual UINT GetSystemDirectoryA(std::string& directory) = 0;
    virtual UINT GetSystemWow64DirectoryA(std::string& directory) = 0;
    virtual DWORD GetFullPathNameA(const char* fileName, std::string& fullPath) = 0;

    // ---- Setup API and devices --------------------------------------------------------
    // destinationName receives the path of the system copy; at most destinationSize - 1
    // characters are stored.
    virtual bool SetupCopyOEMInfA(const char* sourceInfFileName, const char* oemSourceMediaLocation,
                                  DWORD oemSourceMediaType, DWORD copyStyle,
                                  std::string& destinationName, DWORD destinationSize) = 0;
    // directory nullptr lists the system INF directory; names only, no paths.
    virtual bool SetupGetInfFileListA(const char* directoryPath, DWORD infStyle,
                                      std::vector<std::string>& names) = 0;
    // Returns INVALID_HANDLE_VALUE on failure.
    virtual Handle SetupOpenInfFileA(const char* fileName, const char* infClass,
                                     DWORD infStyle) = 0;
    virtual void SetupCloseInfFile(Handle inf) = 0;
    virtual bool SetupFindFirstLineA(Handle inf, const char* section, const char* key,
                                     InfContext* context) = 0;
    virtual bool SetupUninstallOEMInfA(const char* infFileName, DWORD flags,
                                       const void* reserved) = 0;
    // Returns INVALID_HANDLE_VALUE on failure.
    virtual Handle SetupDiGetClassDevsA(const void* classGuid, const char* enumerator,
                                        Handle parent, DWORD flags) = 0;
    virtual bool SetupDiEnumDeviceInfo(Handle deviceInfoSet, DWORD memberIndex,
                                       SpDevinfoData* deviceInfoData) = 0;
    virtual bool SetupDiGetDeviceRegistryPropertyA(Handle deviceInfoSet,
                                                   const SpDevinfoData* deviceInfoData,
                                                   DWORD property, DWORD* propertyRegDataType,
                                                   unsigned char* buffer, DWORD bufferSize,
                                                   DWORD* requiredSize) = 0;
    virtual bool SetupDiRemoveDevice(Handle deviceInfoSet, SpDevinfoData* deviceInfoData) = 0;
    virtual bool SetupDiDestroyDeviceInfoList(Handle deviceInfoSet) = 0;

    // ---- Services ---------------------------------------------------------------------
    // Handles are kNullHandle on failure (GetLastError tells why).
    virtual Handle OpenSCManagerA(const char* machineName, const char* databaseName,
                                  DWORD desiredAccess) = 0;
    virtual Handle OpenServiceA(Handle manager, const char* serviceName, DWORD desiredAccess) = 0;
    virtual bool ControlService(Handle service, DWORD control, ServiceStatus* status) = 0;
    virtual bool StartServiceA(Handle service) = 0;
    virtual bool QueryServiceStatus(Handle service, ServiceStatus* status) = 0;
    virtual bool CloseServiceHandle(Handle object) = 0;

    // ---- System information, profile, processes, power ------------------------------
    virtual bool GetComputerNameA(std::string& name, DWORD size) = 0;
    virtual bool WriteProfileStringA(const char* section, const char* key, const char* value) = 0;
    virtual bool GetVersionExA(OsVersionInfo* info) = 0;
    virtual Handle GetCurrentProcess() = 0;
    virtual Handle GetModuleHandleA(const char* moduleName) = 0;
    // Non-zero when the module exports the procedure.
    virtual std::uintptr_t GetProcAddress(Handle module, const char* procName) = 0;
    virtual bool IsWow64Process(Handle process, bool* wow64) = 0;
    virtual UINT WinExec(const char* commandLine, UINT show) = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    // Does not return on Windows. A test double records it and returns; every caller
    // returns at once after it, so nothing more happens in either case.
    virtual void ExitProcess(UINT exitCode) = 0;
    virtual bool OpenProcessToken(Handle process, DWORD desiredAccess, Handle* token) = 0;
    virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) = 0;
    virtual bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                       const TokenPrivilege* newState) = 0;
    virtual bool CloseHandle(Handle object) = 0;
    virtual bool ExitWindowsEx(UINT flags, DWORD reason) = 0;
};

}  // namespace tessaly::winsys
