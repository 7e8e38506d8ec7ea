// An in-memory Windows for tests of the installation and removal sequences.
//
// It models a 64-bit Windows 7 machine on which a 32-bit program runs under WOW64: the print
// spooler (printers with printer data and jobs, drivers sharing files, print processors,
// monitors, forms, ports) with the registry keys that back its objects, run as a service that
// takes time to stop and to start; a registry with its 32-bit and 64-bit views, key owners and
// access control lists; a file system with attributes, junctions, WOW64 redirection of the
// system folder and paths relative to the current drive's root; the system INF directory with
// oemN.inf copies, USB device nodes with hardware ids, the "windows" profile section, tokens
// and restart.
//
// Time passes only in Sleep: a service that was asked to stop or start reaches its new state
// once enough time has been slept, as a real one does while its caller waits.
//
// Every call is written to a journal in a readable one-line form ("Name(args) -> result"), and
// any call can be made to fail with a chosen error code. Sleep, ExitProcess and ExitWindowsEx
// are recorded, never performed.
//
// One file per API family, as in the Win32 back end, beside the journal (journal.h), failure
// injection, handle bookkeeping and the status display recorder (journal_status_display.h).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "../windows_services.h"
#include "journal.h"

namespace tessaly::winsys::fake {

// Entry of a fake access control list.
struct Ace {
    std::string trustee;
    DWORD mask = 0;
    bool deny = false;
    DWORD inheritance = NO_INHERITANCE;
    bool inherited = false;
    bool operator==(const Ace&) const = default;
};
using Acl = std::vector<Ace>;

struct FakeConfig {
    std::string windowsDirectory = "C:\\Windows";
    std::string computerName = "DESK-01";
    std::string currentDirectory = "C:\\Setup";
    // The environment a 32-bit program gets when it passes none.
    std::string defaultEnvironment = "Windows NT x86";
    bool wow64Process = true;
    bool kernelHasIsWow64Process = true;
    // Groups the running user belongs to (for registry access checks).
    std::vector<std::string> callerGroups{"Everyone", "Administrators"};
    // After the groups: GCC 12 at -O3 takes the version's text for uninitialised on
    // the clean-up path of a throwing member initialiser that follows it
    // (-Wmaybe-uninitialized), wrongly.
    OsVersionInfo version{kOsVersionInfoSize, 6, 1, 7601, 2, "Service Pack 1"};
    bool shutdownPrivilegeHeld = true;
    // How long the print spooler service takes to stop and to start.
    DWORD spoolerStopMs = 2500;
    DWORD spoolerStartMs = 1500;
};

struct MessageRecord {
    Handle owner = kNullHandle;
    std::string text;
    std::string caption;
    UINT type = 0;
    int answer = 0;
};

class FakeWindows : public WindowsServices {
  public:
    FakeWindows();
    explicit FakeWindows(FakeConfig config);

    Journal& journal() { return journal_; }
    const Journal& journal() const { return journal_; }
    const FakeConfig& config() const { return config_; }

    // ---- Failure injection and scripted answers -----------------------------------
    // The next `times` calls named `call` whose argument text contains `argsContain` fail
    // with `code` (times < 0: every such call), after `skip` such calls that succeed.
    void FailCall(const std::string& call, DWORD code, const std::string& argsContain = {},
                  int times = -1, int skip = 0);
    // Answers for the next message boxes, in order; without one, a box answers IDOK, or
    // IDNO when it has Yes/No buttons.
    void QueueMessageBoxAnswer(int answer) { answers_.push_back(answer); }

    // ---- State set-up and inspection (not journalled) ----------------------------
    std::string WindowsDir() const { return config_.windowsDirectory; }
    std::string InfDir() const { return config_.windowsDirectory + "\\INF"; }
    std::string DriverDir(const std::string& environment = "Windows x64") const;
    std::string PrintProcessorDir(const std::string& environment = "Windows x64") const;

    // Set-up paths are physical: no WOW64 redirection (C:\Windows\system32 is the 64-bit
    // folder), and a junction is not followed.
    void AddFile(const std::string& path, const std::string& content = {},
                 DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
    void AddDirectory(const std::string& path, DWORD attributes = FILE_ATTRIBUTE_DIRECTORY);
    // A directory junction at `path` that leads to the folder `target`.
    void AddJunction(const std::string& path, const std::string& target);
    bool FileExists(const std::string& path) const;
    bool DirectoryExists(const std::string& path) const;
    std::string FileContent(const std::string& path) const;
    // Names of the entries directly inside a folder, sorted.
    std::vector<std::string> ListDirectory(const std::string& path) const;

    void AddPort(const std::string& name) { ports_.push_back(name); }
    void AddPrinter(const PrinterInfo2& info);
    void SetPrinterDataDword(const std::string& printer, const std::string& value, DWORD data);
    // Jobs in the queue: a queue with jobs is only marked for deletion by DeletePrinter, and
    // goes when the spooler starts again.
    void AddPrintJobs(const std::string& printer, DWORD count);
    void AddDriver(const DriverInfo3& info);
    void AddMonitor(const MonitorInfo2& info);
    void AddPrintProcessor(const std::string& environment, const std::string& name,
                           const std::string& dll);
    void AddForm(const std::string& name);
    bool HasPrinter(const std::string& name) const;
    const PrinterInfo2* FindPrinter(const std::string& name) const;
    std::vector<std::string> PrinterNames() const;
    bool HasDriver(const std::string& environment, const std::string& name) const;
    const DriverInfo3* FindDriver(const std::string& environment, const std::string& name) const;
    bool HasMonitor(const std::string& name) const;
    bool HasPrintProcessor(const std::string& environment, const std::string& name) const;
    bool HasForm(const std::string& name) const;
    bool SpoolerRunning() const { return spoolerState_ == SERVICE_RUNNING; }
    DWORD SpoolerState() const { return spoolerState_; }

    // Registry paths are written with a short root: "HKLM\\SOFTWARE\\...". They name the
    // physical key (a 32-bit view key is under "HKLM\\SOFTWARE\\WOW6432Node\\...").
    void CreateKey(const std::string& path);
    bool KeyExists(const std::string& path) const;
    void SetStringValue(const std::string& path, const std::string& name, const std::string& data);
    std::optional<std::string> StringValue(const std::string& path, const std::string& name) const;
    std::vector<std::string> ValueNames(const std::string& path) const;
    // nullopt = no DACL (everyone has full access).
    void SetKeyDacl(const std::string& path, std::optional<Acl> dacl);
    std::optional<Acl> KeyDacl(const std::string& path) const;
    // The owner may always read and change a key's DACL; new keys belong to Administrators.
    void SetKeyOwner(const std::string& path, const std::string& owner);

    // INF files of the system INF directory.
    void AddInf(const std::string& name, const std::string& content);
    std::vector<std::string> InfNames() const;

    void AddUsbDevice(const std::vector<std::string>& hardwareIds, bool present = true);
    // True when a device whose first hardware id equals `hardwareId` (any case) is present.
    bool HasDevice(const std::string& hardwareId) const;

    std::optional<std::string> ProfileString(const std::string& section,
                                             const std::string& key) const;
    void SetProfileString(const std::string& section, const std::string& key,
                          const std::string& value);

    // Handles and allocations that were opened and not released, one description each.
    std::vector<std::string> LeakedHandles() const;
    const std::vector<MessageRecord>& Messages() const { return messages_; }
    std::optional<UINT> ExitCode() const { return exitCode_; }
    std::optional<UINT> RestartFlags() const { return restartFlags_; }
    DWORD TotalSleepMs() const { return totalSleepMs_; }

    // ---- WindowsServices ------------------------------------------------------------
    DWORD GetLastError() override { return lastError_; }
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
    struct FsNode {
        std::string path;  // as first written
        bool directory = false;
        DWORD attributes = 0;
        std::string content;
        std::string target;  // where a junction leads
    };
    struct RegValue {
        std::string name;
        DWORD type = 0;
        std::string bytes;
    };
    struct RegKey {
        std::string path;
        std::map<std::string, RegValue> values;  // by upper-case name
        std::optional<Acl> dacl;
        std::string owner = "Administrators";
    };
    struct KeyHandle {
        std::string path;  // upper-case physical path
        DWORD access = 0;
    };
    struct PrinterHandle {
        std::string printer;  // empty: the print server
        DWORD access = 0;
    };
    struct FakePrinter {
        PrinterInfo2 info;
        std::map<std::string, std::pair<DWORD, std::string>> data;  // by upper-case name
        DWORD jobs = 0;
    };
    struct FakePrintProcessor {
        std::string environment, name, dll;
    };
    struct FindState {
        std::vector<FindData> entries;
        std::size_t next = 0;
    };
    struct InfState {
        std::map<std::string, std::vector<std::string>> sections;  // upper name -> upper keys
    };
    struct FakeDevice {
        DWORD devInst = 0;
        std::string enumerator;
        std::vector<std::string> hardwareIds;
        bool present = true;
        bool removed = false;
    };
    struct DeviceSet {
        std::vector<DWORD> devInsts;
    };
    struct Allocation {
        std::string kind;
        std::optional<Acl> acl;
        Handle owner = kNullHandle;  // a DACL inside a security descriptor
    };
    struct ServiceHandle {
        bool manager = false;
        DWORD access = 0;
    };
    struct FailRule {
        std::string call;
        DWORD code = 0;
        std::string argsContain;
        int times = -1;
        int skip = 0;
    };

    // Journal and result helpers.
    std::optional<DWORD> Injected(const std::string& call, const std::string& args);
    void Log(const std::string& call, const std::string& args, const std::string& result);
    bool BoolResult(const std::string& call, const std::string& args, DWORD error,
                    const std::string& extra = {});
    DWORD CodeResult(const std::string& call, const std::string& args, DWORD error,
                     const std::string& extra = {});
    Handle NewHandle(const std::string& description);
    void ReleaseHandle(Handle h);
    std::string HandleText(Handle h) const;

    // File system. FullPath makes a path absolute; ProgramPath also applies what a 32-bit
    // program's file calls see: WOW64 redirection and junctions (the last part followed or
    // not, as the call does).
    std::string FullPath(const std::string& path) const;
    std::string ProgramPath(const std::string& path, bool followLast = true) const;
    std::string Redirected(const std::string& fullPath) const;
    std::string ThroughJunctions(const std::string& fullPath, bool followLast) const;
    const FsNode* ProgramNode(const char* path, bool followLast = true) const;
    UINT DirectoryQuery(const std::string& call, const std::string& value, std::string& directory);
    static std::string Key(const std::string& path);
    static std::string Parent(const std::string& fullPath);
    const FsNode* Node(const std::string& path) const;
    FsNode* Node(const std::string& path);
    std::vector<const FsNode*> Children(const std::string& fullPath) const;

    // Registry.
    std::optional<std::string> KeyBase(HKEY key) const;
    std::string ResolveKeyPath(const std::string& base, const char* subKey, DWORD sam) const;
    DWORD EffectiveAccess(const RegKey& key) const;
    void EnsureKey(const std::string& upperPath, const std::string& displayPath);
    void EraseKeyTree(const std::string& path);
    bool HasSubKeys(const std::string& upperPath) const;
    void PropagateInheritance(const std::string& upperPath, const Acl& acl);
    std::optional<Acl> AclOf(Handle h, bool* valid) const;

    // Spooler.
    bool ValidEnvironment(const std::string& environment) const;
    std::string EnvironmentOf(const char* environment) const;
    static std::string PrintKey(const std::string& tail);
    std::string DriverKey(const std::string& environment, const std::string& name) const;
    std::string PrintProcessorKey(const std::string& environment, const std::string& name) const;
    void ReloadSpoolerFromRegistry();
    // Moves the spooler service on to the state its pending stop or start reaches by now.
    void AdvanceSpooler();
    void RequestSpoolerStop();
    bool RequestSpoolerStart();
    void SpoolerStarted();
    // ERROR_SUCCESS when the handle is a service's opened with the access needed.
    DWORD ServiceAccess(Handle service, DWORD needed) const;
    FakePrinter* PrinterByName(const std::string& name);

    FakeConfig config_;
    Journal journal_;
    DWORD lastError_ = 0;
    Handle nextHandle_ = 0x100;
    std::map<Handle, std::string> openHandles_;
    std::vector<FailRule> failRules_;
    std::vector<int> answers_;
    std::vector<MessageRecord> messages_;
    std::optional<UINT> exitCode_;
    std::optional<UINT> restartFlags_;
    DWORD totalSleepMs_ = 0;

    std::map<std::string, FsNode> files_;  // by upper-case full path
    std::map<std::string, RegKey> keys_;   // by upper-case path
    std::map<Handle, KeyHandle> keyHandles_;
    std::map<Handle, Allocation> allocations_;

    DWORD spoolerState_ = SERVICE_RUNNING;
    DWORD spoolerPendingUntil_ = 0;  // in slept milliseconds
    std::map<Handle, ServiceHandle> serviceHandles_;
    std::vector<std::string> ports_;
    std::vector<FakePrinter> printers_;
    std::vector<DriverInfo3> drivers_;
    std::vector<MonitorInfo2> monitors_;
    std::vector<FakePrintProcessor> printProcessors_;
    std::vector<FormInfo1> forms_;
    std::map<Handle, PrinterHandle> printerHandles_;

    std::map<Handle, FindState> finds_;
    std::map<Handle, InfState> infs_;
    std::vector<FakeDevice> devices_;
    DWORD nextDevInst_ = 1;
    std::map<Handle, DeviceSet> deviceSets_;
    std::set<Handle> tokens_;
    bool shutdownEnabled_ = false;
    std::map<std::string, std::map<std::string, std::pair<std::string, std::string>>> profile_;
};

}  // namespace tessaly::winsys::fake
