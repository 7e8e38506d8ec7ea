// The Windows services on the real Win32 API. Each member calls the Win32 function of the same
// name with the arguments it was given, and performs the size query and second call where the
// interface returns a whole list. One file per API family (spooler.cpp, registry.cpp, ...);
// dialog_support.h holds what the installer's and the uninstaller's dialogs share.
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "winsys/windows_services.h"

namespace tessaly::winsys {

class Win32Windows final : public WindowsServices {
  public:
    Win32Windows() = default;
    Win32Windows(const Win32Windows&) = delete;
    Win32Windows& operator=(const Win32Windows&) = delete;
    ~Win32Windows() override = default;

    DWORD GetLastError() override;
    std::string FormatMessageA(DWORD flags, DWORD messageId, DWORD languageId) override;
    int MessageBoxA(Handle owner, const char* text, const char* caption, UINT type) override;

    bool OpenPrinterA(const char* printerName, Handle* printer,
                      const PrinterDefaults* defaults) override;
    bool ClosePrinter(Handle printer) override;
    bool DeletePrinter(Handle printer) override;
    bool EnumPrintersA(DWORD flags, const char* name, DWORD level,
                       std::vector<PrinterInfo2>& printers) override;
    Handle AddPrinterA(const char* serverName, DWORD level, const PrinterInfo2& info) override;
    DWORD GetPrinterDataA(Handle printer, const char* valueName, DWORD* type, unsigned char* data,
                          DWORD size, DWORD* needed) override;
    bool EnumPrinterDriversA(const char* serverName, const char* environment, DWORD level,
                             std::vector<DriverInfo3>& drivers) override;
    bool AddPrinterDriverA(const char* serverName, DWORD level, const DriverInfo3& info) override;
    bool DeletePrinterDriverExA(const char* serverName, const char* environment,
                                const char* driverName, DWORD deleteFlag,
                                DWORD versionFlag) override;
    bool GetPrinterDriverDirectoryA(const char* serverName, const char* environment, DWORD level,
                                    std::string& directory) override;
    bool EnumPrintProcessorsA(const char* serverName, const char* environment, DWORD level,
                              std::vector<std::string>& names) override;
    bool AddPrintProcessorA(const char* serverName, const char* environment, const char* pathName,
                            const char* printProcessorName) override;
    bool DeletePrintProcessorA(const char* serverName, const char* environment,
                               const char* printProcessorName) override;
    bool GetPrintProcessorDirectoryA(const char* serverName, const char* environment, DWORD level,
                                     std::string& directory) override;
    bool AddMonitorA(const char* serverName, DWORD level, const MonitorInfo2& info) override;
    bool DeleteMonitorA(const char* serverName, const char* environment,
                        const char* monitorName) override;
    bool EnumFormsA(Handle printer, DWORD level, std::vector<FormInfo1>& forms) override;
    bool DeleteFormA(Handle printer, const char* formName) override;

    DWORD RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                        HKEY* result) override;
    DWORD RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                          HKEY* result, DWORD* disposition) override;
    DWORD RegSetValueExA(HKEY key, const char* valueName, DWORD type, const unsigned char* data,
                         DWORD size) override;
    DWORD RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, unsigned char* data,
                           DWORD* size) override;
    DWORD RegDeleteKeyExA(HKEY key, const char* subKey, DWORD samDesired, DWORD reserved) override;
    DWORD RegCloseKey(HKEY key) override;
    DWORD RegConnectRegistryA(const char* machineName, HKEY key, HKEY* result) override;
    DWORD RegEnumKeyExA(HKEY key, DWORD index, std::string& name) override;

    DWORD GetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo, Handle* dacl,
                          Handle* securityDescriptor) override;
    void BuildExplicitAccessWithNameA(ExplicitAccess* entry, const char* trusteeName,
                                      DWORD accessPermissions, DWORD accessMode,
                                      DWORD inheritance) override;
    DWORD SetEntriesInAclA(DWORD count, const ExplicitAccess* entries, Handle oldAcl,
                           Handle* newAcl) override;
    DWORD SetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo,
                          Handle dacl) override;
    Handle LocalFree(Handle memory) override;

    bool CopyFileA(const char* existingFile, const char* newFile, bool failIfExists) override;
    bool DeleteFileA(const char* fileName) override;
    DWORD GetFileAttributesA(const char* fileName) override;
    bool SetFileAttributesA(const char* fileName, DWORD attributes) override;
    Handle FindFirstFileA(const char* pattern, FindData* data) override;
    bool FindNextFileA(Handle find, FindData* data) override;
    bool FindClose(Handle find) override;
    bool CreateDirectoryA(const char* pathName) override;
    bool RemoveDirectoryA(const char* pathName) override;
    UINT GetWindowsDirectoryA(std::string& directory) override;
    UINT GetSystemDirectoryA(std::string& directory) override;
    UINT GetSystemWow64DirectoryA(std::string& directory) override;
    DWORD GetFullPathNameA(const char* fileName, std::string& fullPath) override;

    bool SetupCopyOEMInfA(const char* sourceInfFileName, const char* oemSourceMediaLocation,
                          DWORD oemSourceMediaType, DWORD copyStyle, std::string& destinationName,
                          DWORD destinationSize) override;
    bool SetupGetInfFileListA(const char* directoryPath, DWORD infStyle,
                              std::vector<std::string>& names) override;
    Handle SetupOpenInfFileA(const char* fileName, const char* infClass, DWORD infStyle) override;
    void SetupCloseInfFile(Handle inf) override;
    bool SetupFindFirstLineA(Handle inf, const char* section, const char* key,
                             InfContext* context) override;
    bool SetupUninstallOEMInfA(const char* infFileName, DWORD flags, const void* reserved) override;
    Handle SetupDiGetClassDevsA(const void* classGuid, const char* enumerator, Handle parent,
                                DWORD flags) override;
    bool SetupDiEnumDeviceInfo(Handle deviceInfoSet, DWORD memberIndex,
                               SpDevinfoData* deviceInfoData) override;
    bool SetupDiGetDeviceRegistryPropertyA(Handle deviceInfoSet,
                                           const SpDevinfoData* deviceInfoData, DWORD property,
                                           DWORD* propertyRegDataType, unsigned char* buffer,
                                           DWORD bufferSize, DWORD* requiredSize) override;
    bool SetupDiRemoveDevice(Handle deviceInfoSet, SpDevinfoData* deviceInfoData) override;
    bool SetupDiDestroyDeviceInfoList(Handle deviceInfoSet) override;

    Handle OpenSCManagerA(const char* machineName, const char* databaseName,
                          DWORD desiredAccess) override;
    Handle OpenServiceA(Handle manager, const char* serviceName, DWORD desiredAccess) override;
    bool ControlService(Handle service, DWORD control, ServiceStatus* status) override;
    bool StartServiceA(Handle service) override;
    bool QueryServiceStatus(Handle service, ServiceStatus* status) override;
    bool CloseServiceHandle(Handle object) override;

    bool GetComputerNameA(std::string& name, DWORD size) override;
    bool WriteProfileStringA(const char* section, const char* key, const char* value) override;
    bool GetVersionExA(OsVersionInfo* info) override;
    Handle GetCurrentProcess() override;
    Handle GetModuleHandleA(const char* moduleName) override;
    std::uintptr_t GetProcAddress(Handle module, const char* procName) override;
    bool IsWow64Process(Handle process, bool* wow64) override;
    UINT WinExec(const char* commandLine, UINT show) override;
    void Sleep(DWORD milliseconds) override;
    void ExitProcess(UINT exitCode) override;
    bool OpenProcessToken(Handle process, DWORD desiredAccess, Handle* token) override;
    bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override;
    bool AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                               const TokenPrivilege* newState) override;
    bool CloseHandle(Handle object) override;
    bool ExitWindowsEx(UINT flags, DWORD reason) override;

  private:
    // The full SP_DEVINFO_DATA of each device handed out by SetupDiEnumDeviceInfo, keyed by
    // set and device instance, so later calls get back what Windows filled in (the interface
    // carries only the size and the device instance). Stored as raw bytes to keep
    // <setupapi.h> out of this header.
    std::map<std::pair<Handle, DWORD>, std::vector<unsigned char>> devices_;
};

}  // namespace tessaly::winsys
