// Drives R3_Installer.exe and R3_Uninstaller.exe under Wine the way a user would: finds their
// dialogs, reads them, ticks and clicks, answers message boxes (never Yes to a restart), asks
// the harness for screenshots, and checks what the programs changed in the spooler, the
// registry, the profile and the file system.
//
// Usage: R3TestDriver <scenario> <kit folder> [screenshot folder]
//        R3TestDriver idle          (keeps the prefix's server warm until ended)
// Every line of output is "PASS name" or "FAIL name: detail"; the exit code is the number of
// failures. Every wait is bounded.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <winspool.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "resource_checks.h"
#include "wine_helpers.h"

using namespace r3test;

namespace {

constexpr char kX64[] = "Windows x64";
constexpr char kDriver[] = "Vantreel R-3";
constexpr char kMonitor[] = "Vantreel Language Monitor R-3";
constexpr char kProcessor[] = "Vantreel PRINT PROCESSOR R-3";
constexpr char kInstallerCaption[] = "Vantreel R-3 installer";
constexpr char kUninstallerCaption[] = "Vantreel R-3 uninstaller";
constexpr char kProgressCaption[] = "Vantreel R-3 Installation Progress";
constexpr char kPortCaption[] = "Select Port Type";
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantreel_R-3";
constexpr char kProcessorKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print "
    "Processors\\Vantreel PRINT PROCESSOR R-3";
constexpr char kPerPrinterKeys[] = "SOFTWARE\\VANTREEL_POS_PRINTER\\";

constexpr char kDifferentVersion[] =
    "There is different version driver in this system.\r\n\r\nThe installed driver will be "
    "removed.";
constexpr char kRemovedDifferent[] =
    "Installer  has successfully removed different version.\nNow it's going to restart your "
    "computer to take effect. Please wait.\n\nAfter restarting, you may reinstall our driver "
    "again.";
constexpr char kPowerCycle[] =
    "Installation is completed.\nPlease turn-off printer and turn-on printer.";
constexpr char kRestartQuestion[] =
    "Restart the computer can take effect.\nPlease restart the computer.\n\n[Yes] I want to "
    "restart my computer now.\n[No] I will restart my computer later.";
constexpr char kNoDriver[] = "R-3 Driver doesn't exist.\nUninstall aleady completed.";

// Driver files the installer copies from its "driver" folder (all stand-ins).
constexpr const char* kDriverFiles[] = {"UNIDRV.DLL", "UNIDRVUI.DLL", "UNIDRV.HLP", "UNIRES.DLL",
                                        "R3E.DLL",    "UIR3.DLL",     "UNIR3.DLL",  "UIR3.INI",
                                        "R3E.GPD",    "STDNAMES.GPD"};
constexpr const char* kTools[] = {"R3_Uninstaller.exe", "NVLogo.exe", "NVPack.inf", "Tessaly.exe"};

constexpr DWORD kDialogWait = 30000;
constexpr DWORD kRemovalWait = 60000;  // the removal restarts the spooler with fixed waits

std::string g_kit;

std::string SystemText(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 1033,
                   reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = text ? text : "";
    if (text) LocalFree(text);
    return out;
}

void CheckText(const std::string& name, const std::string& seen, const std::string& expected) {
    Check(seen == expected, name,
          "\"" + Visible(seen) + "\" instead of \"" + Visible(expected) + "\"");
}

int ProgressPos(HWND dialog, int id) {
    return static_cast<int>(Ask(GetDlgItem(dialog, id), PBM_GETPOS, 0, 0));
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// ---- Preparations (the test's own changes to the prefix) -------------------------------

// Registers the driver for this process's own environment too: Wine's spooler runs inside
// the calling 32-bit process and refuses a queue for a driver known only for "Windows x64".
bool RegisterDriverForOwnEnvironment() {
    const std::string directory = PrinterDriverDirectory(nullptr);
    for (const char* file : kDriverFiles) CopyInto(g_kit + "\\driver", directory, file);
    DRIVER_INFO_3A info{};
    info.cVersion = 3;
    info.pName = const_cast<char*>(kDriver);
    info.pEnvironment = nullptr;
    info.pDriverPath = const_cast<char*>("UNIDRV.DLL");
    info.pDataFile = const_cast<char*>("R3E.GPD");
    info.pConfigFile = const_cast<char*>("UNIDRVUI.DLL");
    info.pHelpFile = const_cast<char*>("UNIDRV.HLP");
    static char dependent[] = "UNIRES.DLL\0STDNAMES.GPD\0R3E.DLL\0UIR3.DLL\0UNIR3.DLL\0UIR3.INI\0";
    info.pDependentFiles = dependent;
    info.pMonitorName = nullptr;
    info.pDefaultDataType = const_cast<char*>("RAW");
    const bool ok = AddPrinterDriverA(nullptr, 3, reinterpret_cast<BYTE*>(&info)) != 0;
    return Check(ok, "prepare: driver also registered for the caller's environment",
                 "AddPrinterDriver error " + std::to_string(GetLastError()));
}

bool AddQueue(const std::string& name, const std::string& port) {
    PRINTER_INFO_2A info{};
    info.pPrinterName = const_cast<char*>(name.c_str());
    info.pPortName = const_cast<char*>(port.c_str());
    info.pDriverName = const_cast<char*>(kDriver);
    info.pPrintProcessor = const_cast<char*>("WinPrint");
    info.pDatatype = const_cast<char*>("RAW");
    info.Priority = 1;
    HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (printer) ClosePrinter(printer);
    return Check(printer != nullptr, "prepare: queue " + name + " on " + port,
                 "AddPrinter error " + std::to_string(GetLastError()));
}

std::string PerPrinterKey(std::string name) {
    for (char& c : name)
        if (c == ' ') c = '_';
    return kPerPrinterKeys + name;
}

// ---- The installer ---------------------------------------------------------------------

struct InstallerRun {
    Program program;
    HWND progress = nullptr;
};

InstallerRun StartInstaller() {
    InstallerRun run;
    run.program = Launch(g_kit + "\\R3_Installer.exe", g_kit);
    return run;
}

// Checks the port dialog, picks the radio and presses Next.
bool ChoosePort(InstallerRun& run, int radioId, const std::string& shot) {
    const DWORD pid = run.program.info.dwProcessId;
    HWND port = WaitTopWindow(pid, kPortCaption, kDialogWait);
    if (!Check(port != nullptr, "installer shows the port dialog")) return false;
    run.progress = FindTopWindow(pid, kProgressCaption, false);
    Check(run.progress != nullptr, "installer shows its progress dialog");
    if (run.progress) {
        CheckText("progress dialog version text", ReadItemText(run.progress, 1001),
                  "Driver Version: V1.0.0E");
        Check(ProgressPos(run.progress, 1000) == 0, "progress bar at 0 before the port choice",
              std::to_string(ProgressPos(run.progress, 1000)));
        Check((GetWindowLongW(run.progress, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0,
              "progress dialog is shown in the task bar");
    }
    const std::map<int, std::string> radios{{1006, "COM1"}, {1008, "COM2"}, {1009, "COM3"},
                                            {1011, "COM4"}, {1007, "LPT1"}, {1010, "LPT2"},
                                            {1001, "USB"}};
    bool textsOk = true;
    for (const auto& [id, text] : radios) textsOk &= ReadItemText(port, id) == text;
    Check(textsOk, "port dialog radio texts and ids");
    CheckText("port dialog Next button", ReadItemText(port, IDOK), "&Next");
    Check(Ask(GetDlgItem(port, 1007), BM_GETCHECK, 0, 0) == BST_CHECKED, "LPT1 is preselected");
    Screenshot(shot + "-port-dialog");
    PostItemClick(port, radioId);
    const bool picked = WaitFor(
        [&] { return Ask(GetDlgItem(port, radioId), BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000);
    Check(picked, "the chosen radio is ticked");
    Check(Ask(GetDlgItem(port, 1007), BM_GETCHECK, 0, 0) == BST_UNCHECKED,
          "LPT1 is unticked by the choice");
    PostItemClick(port, IDOK);
    return picked;
}

// Answers (and reports) message boxes until one starting with `expected` shows; returns it.
MessageBoxSeen AwaitMessage(InstallerRun& run, const std::string& expectedStart, DWORD timeout) {
    for (int i = 0; i < 6; ++i) {
        MessageBoxSeen box =
            WaitMessageBox(run.program.info.dwProcessId, kInstallerCaption, timeout);
        if (!box.window) {
            Check(false, "message \"" + Visible(expectedStart) + "\" shows",
                  IsRunning(run.program) ? "no message box" : "the installer ended");
            return box;
        }
        if (box.text.compare(0, expectedStart.size(), expectedStart) == 0) return box;
        Check(false, "no unexpected message", "\"" + Visible(box.text) + "\"");
        Answer(box, IDOK);
        WaitFor([&] { return !IsWindow(box.window); }, 5000);
    }
    return {};
}

void CheckInstallerEnds(InstallerRun& run) {
    const long code = WaitExit(run.program, 15000, "installer");
    Check(code == 0, "installer ends with exit code 0", std::to_string(code));
}

// A program with a window of its own, standing for the user's other programs: a restart that
// lets them save first asks it to end its session (WM_QUERYENDSESSION) before it ends it; a
// forced one ends it without asking. Its window lives on a thread of its own.
class Bystander {
  public:
    Bystander() : asked_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
    }
    bool WaitAsked(DWORD ms) const { return WaitForSingleObject(asked_, ms) == WAIT_OBJECT_0; }

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_QUERYENDSESSION) {
            // Said here: the end of the session may end the process before another thread
            // gets to say it.
            Check(true, "other programs are asked to end their session first");
            SetEvent(
                reinterpret_cast<Bystander*>(GetWindowLongPtrA(window, GWLP_USERDATA))->asked_);
            return TRUE;
        }
        if (message == WM_ENDSESSION && wParam) {
            std::fflush(stdout);
            ExitProcess(static_cast<UINT>(Failures()));
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static DWORD WINAPI Run(void* self) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "R3TestBystander";
        RegisterClassA(&windowClass);
        HWND window = CreateWindowExA(0, "R3TestBystander", "Unsaved work", WS_OVERLAPPED, 0, 0, 10,
                                      10, nullptr, nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
        return 0;
    }

    HANDLE asked_;
    HANDLE thread_;
};

// A restart ends the prefix's programs that have windows, this one included (by way of its
// bystander window). Whatever is checked after it is checked by the harness (and by the
// scenario that runs next).
[[noreturn]] void AwaitRestart(const Bystander& bystander) {
    std::printf("INFO waiting for the restart to end this process\n");
    std::fflush(stdout);
    if (!bystander.WaitAsked(60000))
        Check(false, "other programs are asked to end their session first",
              "no WM_QUERYENDSESSION within 60 s");
    Sleep(30000);
    Check(false, "the restart ends the programs", "still alive 30 s after being asked");
    ExitProcess(static_cast<UINT>(Failures()));
}

// Closing the port dialog without Next installs nothing.
void InstallCancel() {
    InstallerRun run = StartInstaller();
    const DWORD pid = run.program.info.dwProcessId;
    HWND port = WaitTopWindow(pid, kPortCaption, kDialogWait);
    if (!Check(port != nullptr, "installer shows the port dialog")) return;
    run.progress = FindTopWindow(pid, kProgressCaption, false);
    PostMessageW(port, WM_CLOSE, 0, 0);  // the title bar's close button
    MessageBoxSeen box = AwaitMessage(run, "Install Canceled.", kDialogWait);
    if (box.window) {
        CheckText("cancel message", box.text, "Install Canceled.");
        Check(box.owner == run.progress && box.owner != nullptr,
              "the message is owned by the progress dialog");
        Screenshot("install-canceled");
        Answer(box, IDOK);
    }
    CheckInstallerEnds(run);
    Check(!Contains(DriverNames(kX64), kDriver) && !Contains(MonitorNames(), kMonitor),
          "nothing is installed");
}

void InstallCom1() {
    Check(!Contains(DriverNames(kX64), kDriver), "starts without the driver");
    InstallerRun run = StartInstaller();
    if (!ChoosePort(run, 1006, "install-com1")) return;
    // Wine's spooler refuses the queue while the driver is known only for "Windows x64".
    MessageBoxSeen box = AwaitMessage(run, "AddPrinter Error Code: ", kDialogWait);
    if (box.window) {
        CheckText("AddPrinter report carries the code and the system's text", box.text,
                  "AddPrinter Error Code: 87\n\n" + SystemText(87));
        Check(box.owner == nullptr, "error report has no owner window");
        Check(ProgressPos(run.progress, 1000) == 77, "seven steps of 11 before the queue",
              std::to_string(ProgressPos(run.progress, 1000)));
        CheckText("status text at the queue step", ReadItemText(run.progress, 1003),
                  "Install printer...\r\n");
        Screenshot("install-com1-addprinter-error");
        Answer(box, IDOK);
    }
    CheckInstallerEnds(run);

    Check(Contains(DriverNames(kX64), kDriver), "driver installed for Windows x64");
    Check(Contains(MonitorNames(), kMonitor), "language monitor installed");
    Check(Contains(PrintProcessorNames(kX64), kProcessor), "print processor installed");
    Check(!Contains(PrinterNames(), kDriver), "no queue");
    const std::string windows = WindowsDirectory();
    Check(!FileExists(windows + "\\inf\\R3.INF"), "nothing after AddPrinter: no INF copy");
    Check(!KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY),
          "nothing after AddPrinter: no uninstall key");
    Check(!FileExists(windows + "\\R-3"), "nothing after AddPrinter: no tools folder");
    Check(Profile("DeviceNotSelectedTimeout") != "3",
          "nothing after AddPrinter: no profile values");
}

// The installer finds what an earlier install left and removes it before anything else.
void RemoveLeftover(const std::string& shot) {
    // As an install would have left them, so that the reset to 15 and 90 shows.
    WriteProfileStringA("windows", "DeviceNotSelectedTimeout", "3");
    WriteProfileStringA("windows", "TransmissionRetryTimeout", "3");
    const Bystander bystander;
    InstallerRun run = StartInstaller();
    const DWORD pid = run.program.info.dwProcessId;
    MessageBoxSeen first = AwaitMessage(run, "There is different", kDialogWait);
    if (!first.window) return;
    run.progress = FindTopWindow(pid, kProgressCaption, false);
    CheckText("different version message", first.text, kDifferentVersion);
    Check(first.owner == run.progress && first.owner != nullptr,
          "the message is owned by the progress dialog");
    Check(FindTopWindow(pid, kPortCaption, false) == nullptr, "no port is asked for");
    Screenshot(shot + "-different-version");
    Answer(first, IDOK);
    // The box must be gone before the next one is looked for: until the installer gets to
    // destroy it, it still shows, and the installer is busy removing.
    Check(WaitFor([&] { return !IsWindow(first.window) || !IsWindowVisible(first.window); }, 10000),
          "the message closes on OK");

    MessageBoxSeen second = AwaitMessage(run, "Installer  has", kRemovalWait);
    if (!second.window) return;
    CheckText("removal done message", second.text, kRemovedDifferent);
    Check(ProgressPos(run.progress, 1000) == 100, "progress bar at 100 after the removal",
          std::to_string(ProgressPos(run.progress, 1000)));
    CheckText("status after the removal", ReadItemText(run.progress, 1003), "Uninstall completed!");
    Screenshot(shot + "-removed");

    Check(!Contains(DriverNames(kX64), kDriver), "driver removed (registry fall-back)");
    Check(!Contains(MonitorNames(), kMonitor), "language monitor removed");
    Check(!FileExists(WindowsDirectory() + "\\MONR3.DLL"), "monitor DLL deleted");
    Check(!FileExists(PrintProcessorDirectory(kX64) + "\\PROR3.DLL"),
          "print processor DLL deleted");
    CheckText("profile DeviceNotSelectedTimeout reset", Profile("DeviceNotSelectedTimeout"), "15");
    CheckText("profile TransmissionRetryTimeout reset", Profile("TransmissionRetryTimeout"), "90");
    Answer(second, IDOK);
    AwaitRestart(bystander);
}

void RemoveLeftoverDriver() {
    // Only the driver is to be left over: the print processor registration from the install
    // is taken away first.
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kProcessorKey, KEY_WOW64_64KEY, 0);
    Check(!Contains(PrintProcessorNames(kX64), kProcessor), "prepare: no print processor");
    Check(Contains(DriverNames(kX64), kDriver), "prepare: the driver is left over");
    Check(PrinterNames().empty(), "prepare: no queue");
    RemoveLeftover("leftover-driver");
}

void RemoveLeftoverProcessor() {
    Check(!Contains(DriverNames(kX64), kDriver), "prepare: no driver");
    const std::string directory = PrintProcessorDirectory(kX64);
    CopyInto(g_kit + "\\driver", directory, "PROR3.DLL");
    const bool added =
        AddPrintProcessorA(nullptr, const_cast<char*>(kX64), const_cast<char*>("PROR3.DLL"),
                           const_cast<char*>(kProcessor)) != 0;
    Check(added && Contains(PrintProcessorNames(kX64), kProcessor),
          "prepare: a print processor is left over", std::to_string(GetLastError()));
    RemoveLeftover("leftover-processor");
}

// Wine's DeletePrintProcessorA reports success and keeps the registration; the test takes it
// away itself so that the next install starts clean.
void ForgetPrintProcessor() {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kProcessorKey, KEY_WOW64_64KEY, 0);
    Check(!Contains(PrintProcessorNames(kX64), kProcessor),
          "prepare: print processor registration removed");
}

// True when the key's DACL holds an entry that allows Everyone full control and is inherited
// by subkeys only, as the permission helper merges it.
bool EveryoneHasFullControl(const std::string& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, READ_CONTROL | KEY_WOW64_64KEY,
                      &key) != ERROR_SUCCESS)
        return false;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool found = false;
    if (GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                        nullptr, &descriptor) == ERROR_SUCCESS &&
        dacl) {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        for (DWORD i = 0; i < dacl->AceCount && !found; ++i) {
            void* ace = nullptr;
            if (!GetAce(dacl, i, &ace)) continue;
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
            if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
            found = allowed->Mask == KEY_ALL_ACCESS &&
                    (allowed->Header.AceFlags & CONTAINER_INHERIT_ACE) != 0 &&
                    EqualSid(const_cast<DWORD*>(&allowed->SidStart), everyone);
        }
        FreeSid(everyone);
    }
    if (descriptor) LocalFree(descriptor);
    RegCloseKey(key);
    return found;
}

// The key's DACL as SDDL text ("D:(A;CI;KA;;;WD)..."), read back with RegGetKeySecurity;
// "<unreadable>" when it cannot be.
std::string KeyDaclText(const std::string& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, READ_CONTROL | KEY_WOW64_64KEY,
                      &key) != ERROR_SUCCESS)
        return "<unreadable>";
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> descriptor(size ? size : 1);
    std::string text = "<unreadable>";
    char* sddl = nullptr;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size) ==
            ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
        text = sddl;
        LocalFree(sddl);
    }
    RegCloseKey(key);
    return text;
}

void InstallUsb(bool infAlreadyThere) {
    Check(!Contains(DriverNames(kX64), kDriver) && !Contains(PrintProcessorNames(kX64), kProcessor),
          "starts without driver and print processor");
    // Device enumeration keys of an earlier printer: the LPTENUM one is deleted; the USBPRINT
    // one still has a subkey, so it stays, and must have its permissions as they were.
    const std::string usbKey = "SYSTEM\\CurrentControlSet\\Enum\\USBPRINT\\Vantreel_R-3";
    const std::string lptKey = "SYSTEM\\CurrentControlSet\\Enum\\LPTENUM\\Vantreel_R-3";
    Check(SetRegString(HKEY_LOCAL_MACHINE, usbKey + "\\Device", "Stand-in", "1", KEY_WOW64_64KEY) &&
              SetRegString(HKEY_LOCAL_MACHINE, lptKey, "Stand-in", "1", KEY_WOW64_64KEY),
          "prepare: enumeration keys of an earlier printer");
    Check(!EveryoneHasFullControl(usbKey), "prepare: Everyone has no full control yet");
    const std::string daclBefore = KeyDaclText(usbKey);
    Check(daclBefore.rfind("D:", 0) == 0, "prepare: the USBPRINT key's DACL reads as SDDL",
          daclBefore);
    // The same INF already in the INF folder under a name of the system's: the copy is refused
    // with ERROR_FILE_EXISTS and names that file, which the uninstall entry must record.
    const std::string presentInf = WindowsDirectory() + "\\inf\\oem9.inf";
    if (infAlreadyThere)
        Check(CopyFileA((g_kit + "\\driver\\R3.INF").c_str(), presentInf.c_str(), FALSE) != 0,
              "prepare: the driver's INF is in the INF folder as oem9.inf");
    InstallerRun run = StartInstaller();
    if (!ChoosePort(run, 1001, "install-usb")) return;
    MessageBoxSeen box = AwaitMessage(run, "Installation is completed.", kDialogWait);
    if (box.window) {
        CheckText("power-cycle message", box.text, kPowerCycle);
        Check(ProgressPos(run.progress, 1000) == 100, "progress bar at 100",
              std::to_string(ProgressPos(run.progress, 1000)));
        CheckText("status text", ReadItemText(run.progress, 1003), "Completed!");
        Screenshot("install-usb-completed");

        const std::string windows = WindowsDirectory();
        Check(Contains(DriverNames(kX64), kDriver), "driver installed for Windows x64");
        Check(Contains(MonitorNames(), kMonitor), "language monitor installed");
        Check(Contains(PrintProcessorNames(kX64), kProcessor), "print processor installed");
        Check(!Contains(PrinterNames(), kDriver), "USB adds no queue");
        Check(FileExists(windows + "\\MONR3.DLL"), "monitor DLL in the Windows folder");
        const std::string x64Drivers = PrinterDriverDirectory(kX64);
        Check(FileExists(x64Drivers + "\\3\\R3E.GPD"), "driver files registered with the spooler");
        Check(!FileExists(x64Drivers + "\\UNIDRV.DLL") && !FileExists(x64Drivers + "\\R3E.GPD"),
              "copied driver files deleted from the driver folder");

        const REGSAM view64 = KEY_WOW64_64KEY;
        CheckText("uninstall key DisplayName",
                  RegString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", view64),
                  "Vantreel R-3 Windows Driver V1.0.0E");
        CheckText("uninstall key empty marker value",
                  RegString(HKEY_LOCAL_MACHINE, kUninstallKey, "Vantreel R-3", view64), "");
        CheckText("uninstall key UninstallString",
                  RegString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", view64),
                  windows + "\\R-3\\R3_Uninstaller.exe");
        const std::string inf = RegString(HKEY_LOCAL_MACHINE, kUninstallKey, "InfFile", view64);
        Check(inf != "<missing>" && !inf.empty() && FileExists(inf),
              "uninstall key InfFile names the system INF copy", inf);
        if (infAlreadyThere)
            Check(_stricmp(inf.c_str(), presentInf.c_str()) == 0,
                  "InfFile names the copy that was already there", inf);
        Check(_strnicmp(inf.c_str(), (windows + "\\inf\\").c_str(), windows.size() + 5) == 0,
              "the INF copy is in the system INF folder", inf);
        Check(!KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY),
              "uninstall key only in the 64-bit view");
        CheckText("profile DeviceNotSelectedTimeout", Profile("DeviceNotSelectedTimeout"), "3");
        CheckText("profile TransmissionRetryTimeout", Profile("TransmissionRetryTimeout"), "3");
        bool tools = true;
        for (const char* tool : kTools) tools &= FileExists(windows + "\\R-3\\" + tool);
        Check(tools, "tools folder R-3 holds the uninstaller and the sibling tools");
        Check(!KeyExists(HKEY_LOCAL_MACHINE, lptKey, KEY_WOW64_64KEY),
              "LPTENUM enumeration key deleted");
        const std::string daclAfter = KeyDaclText(usbKey);
        Check(daclAfter == daclBefore && !EveryoneHasFullControl(usbKey),
              "the USBPRINT key that stays has its permissions as before",
              daclBefore + " before, " + daclAfter + " after");
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (usbKey + "\\Device").c_str(), KEY_WOW64_64KEY, 0);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, usbKey.c_str(), KEY_WOW64_64KEY, 0);
        Answer(box, IDOK);
    }
    CheckInstallerEnds(run);
}

// ---- The uninstaller -------------------------------------------------------------------

struct UninstallerRun {
    Program program;
    HWND dialog = nullptr;
    HWND list = nullptr;
};

UninstallerRun StartUninstaller() {
    UninstallerRun run;
    // The copy the installer put in place, as the uninstall entry names it.
    const std::string folder = WindowsDirectory() + "\\R-3";
    run.program = Launch(folder + "\\R3_Uninstaller.exe", folder);
    run.dialog = WaitTopWindow(run.program.info.dwProcessId, kUninstallerCaption, kDialogWait);
    Check(run.dialog != nullptr, "uninstaller shows its dialog");
    if (run.dialog) run.list = GetDlgItem(run.dialog, 1006);
    return run;
}

bool SetTick(UninstallerRun& run, int index, bool ticked) {
    ClickListCheckBox(run.list, index);
    return WaitFor([&] { return (ListItemData(run.list, index) == 1) == ticked; }, 5000);
}

// The driver without any queue: the removal starts at once, with no choice offered.
void UninstallDriverOnly() {
    Check(Contains(DriverNames(kX64), kDriver) && PrinterNames().empty(),
          "prepare: the driver is installed without a queue");
    UninstallerRun run = StartUninstaller();
    if (!run.dialog) return;
    MessageBoxSeen box =
        WaitMessageBox(run.program.info.dwProcessId, kUninstallerCaption, kRemovalWait, run.dialog);
    if (Check(box.window != nullptr, "the restart question shows")) {
        CheckText("restart question", box.text, kRestartQuestion);
        Check(ListCount(run.list) == 0, "no queue is offered");
        Check(!Enabled(run.dialog, IDCANCEL), "Cancel is disabled");
        Check(ProgressPos(run.dialog, 1002) == 30, "one step of 30 (no queue step)",
              std::to_string(ProgressPos(run.dialog, 1002)));
        Screenshot("uninstaller-driver-only");
        Check(!Contains(DriverNames(kX64), kDriver), "driver removed (registry fall-back)");
        Check(!KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY),
              "uninstall key deleted");
        Answer(box, IDNO);  // never Yes
    }
    const long code = WaitExit(run.program, 20000, "uninstaller");
    Check(code == 0, "uninstaller closes with exit code 0 after No", std::to_string(code));
}

// Two queues of the driver, made by the test, then Cancel: nothing is deleted.
void UninstallCancel() {
    if (!RegisterDriverForOwnEnvironment()) return;
    AddQueue("Vantreel R-3", "LPT1:");
    AddQueue("Vantreel R-3(#1)", "COM2:");
    SetRegString(HKEY_LOCAL_MACHINE, PerPrinterKey("Vantreel R-3"), "Port",
                 "LPT1:", KEY_WOW64_64KEY);
    SetRegString(HKEY_LOCAL_MACHINE, PerPrinterKey("Vantreel R-3(#1)"), "Port",
                 "COM2:", KEY_WOW64_64KEY);

    UninstallerRun run = StartUninstaller();
    if (!run.dialog) return;
    Check(WaitFor([&] { return ListCount(run.list) == 2; }, kDialogWait),
          "both queues are listed before Cancel");
    PostItemClick(run.dialog, IDCANCEL);
    const long code = WaitExit(run.program, 10000, "uninstaller");
    Check(code == 0, "Cancel ends the uninstaller with exit code 0", std::to_string(code));
    const auto printers = PrinterNames();
    Check(Contains(printers, "Vantreel R-3") && Contains(printers, "Vantreel R-3(#1)"),
          "Cancel deletes no queue");
    Check(Contains(DriverNames(kX64), kDriver), "Cancel keeps the driver");
}

void UninstallOne() {
    UninstallerRun run = StartUninstaller();
    if (!run.dialog) return;
    const bool listed = WaitFor([&] { return ListCount(run.list) == 2; }, kDialogWait);
    Check(listed, "both queues of the driver are listed", std::to_string(ListCount(run.list)));
    if (!listed) {
        WaitExit(run.program, 1000, "uninstaller");
        return;
    }
    CheckText("list is sorted (line 0)", ListText(run.list, 0), "Vantreel R-3");
    CheckText("list is sorted (line 1)", ListText(run.list, 1), "Vantreel R-3(#1)");
    Check(ListItemData(run.list, 0) == 0 && ListItemData(run.list, 1) == 0, "no line is ticked");
    Check(!Enabled(run.dialog, 1001), "Uninstall starts disabled");
    Check(Enabled(run.dialog, IDCANCEL), "Cancel is enabled");
    CheckText("Uninstall button text", ReadItemText(run.dialog, 1001), "Uninstall");
    Check((GetWindowLongW(run.dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0,
          "uninstaller dialog is shown in the task bar");
    Screenshot("uninstaller-two-queues");

    Check(SetTick(run, 1, true), "ticking a line");
    Check(WaitFor([&] { return Enabled(run.dialog, 1001); }, 5000), "a tick enables Uninstall");
    Check(SetTick(run, 1, false), "unticking the line");
    Check(WaitFor([&] { return !Enabled(run.dialog, 1001); }, 5000),
          "unticking the last tick disables Uninstall");
    Check(SetTick(run, 1, true), "ticking the line again");
    Check(WaitFor([&] { return Enabled(run.dialog, 1001); }, 5000), "Uninstall enabled again");
    Screenshot("uninstaller-one-ticked");
    PostItemClick(run.dialog, 1001);

    // One of two queues: no driver removal, no restart question; the dialog closes.
    MessageBoxSeen box =
        WaitMessageBox(run.program.info.dwProcessId, kUninstallerCaption, 6000, run.dialog);
    if (box.window) {
        Check(false, "no message when a queue remains", "\"" + Visible(box.text) + "\"");
        Answer(box, IDNO);
    }
    const long code = WaitExit(run.program, 20000, "uninstaller");
    Check(code == 0, "uninstaller closes with exit code 0", std::to_string(code));
    const auto printers = PrinterNames();
    Check(!Contains(printers, "Vantreel R-3(#1)"), "the ticked queue is deleted");
    Check(Contains(printers, "Vantreel R-3"), "the other queue stays");
    Check(!KeyExists(HKEY_LOCAL_MACHINE, PerPrinterKey("Vantreel R-3(#1)"), KEY_WOW64_64KEY),
          "the ticked queue's per-printer key is deleted");
    Check(KeyExists(HKEY_LOCAL_MACHINE, PerPrinterKey("Vantreel R-3"), KEY_WOW64_64KEY),
          "the other queue's per-printer key stays");
    Check(Contains(DriverNames(kX64), kDriver), "the driver stays while a queue remains");
    Check(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY), "uninstall key stays");
}

void UninstallRest() {
    const std::string inf =
        RegString(HKEY_LOCAL_MACHINE, kUninstallKey, "InfFile", KEY_WOW64_64KEY);
    UninstallerRun run = StartUninstaller();
    if (!run.dialog) return;
    const bool listed = WaitFor([&] { return ListCount(run.list) == 1; }, kDialogWait);
    Check(listed, "the remaining queue is listed", std::to_string(ListCount(run.list)));
    if (!listed) {
        WaitExit(run.program, 1000, "uninstaller");
        return;
    }
    Check(SetTick(run, 0, true), "ticking the last queue");
    Check(WaitFor([&] { return Enabled(run.dialog, 1001); }, 5000), "Uninstall enabled");
    PostItemClick(run.dialog, 1001);

    MessageBoxSeen box =
        WaitMessageBox(run.program.info.dwProcessId, kUninstallerCaption, kRemovalWait, run.dialog);
    if (Check(box.window != nullptr, "the restart question shows")) {
        CheckText("restart question", box.text, kRestartQuestion);
        Check(box.owner == run.dialog, "the question is owned by the dialog");
        Check(GetDlgItem(box.window, IDYES) && GetDlgItem(box.window, IDNO),
              "the question has Yes and No");
        Check(ProgressPos(run.dialog, 1002) == 60, "two steps of 30 before the question",
              std::to_string(ProgressPos(run.dialog, 1002)));
        CheckText("status before the question", ReadItemText(run.dialog, 1000),
                  "Delete printer driver...");
        Check(!Enabled(run.dialog, IDCANCEL) && !Enabled(run.dialog, 1001),
              "Cancel and Uninstall disabled while removing");
        Screenshot("uninstaller-restart-question");

        Check(PrinterNames().empty(), "the last queue is deleted");
        Check(!KeyExists(HKEY_LOCAL_MACHINE, PerPrinterKey("Vantreel R-3"), KEY_WOW64_64KEY),
              "its per-printer key is deleted");
        Check(!Contains(DriverNames(kX64), kDriver), "driver removed (registry fall-back)");
        Check(!Contains(MonitorNames(), kMonitor), "language monitor removed");
        Check(!KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY),
              "uninstall key deleted");
        Check(inf != "<missing>" && !FileExists(inf), "system INF copy uninstalled", inf);
        CheckText("profile DeviceNotSelectedTimeout reset", Profile("DeviceNotSelectedTimeout"),
                  "15");
        CheckText("profile TransmissionRetryTimeout reset", Profile("TransmissionRetryTimeout"),
                  "90");
        Answer(box, IDNO);  // never Yes
        // The dialog sleeps before it closes and answers no message meanwhile; the control's
        // text is read from the window manager instead.
        HWND status = GetDlgItem(run.dialog, 1000);
        std::string last;
        const bool completed = WaitFor(
            [&] {
                last = Caption(status);
                return last == "Uninstall completed!" || !IsWindow(status);
            },
            10000);
        Check(completed && last == "Uninstall completed!", "after No the status says completed",
              last);
        Screenshot("uninstaller-after-no");
    }
    const long code = WaitExit(run.program, 20000, "uninstaller");
    Check(code == 0, "uninstaller closes with exit code 0 after No", std::to_string(code));
}

void UninstallNothing() {
    // A stale entry without any driver: it is deleted after the message.
    SetRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "stale", KEY_WOW64_64KEY);
    Program program =
        Launch(WindowsDirectory() + "\\R-3\\R3_Uninstaller.exe", WindowsDirectory() + "\\R-3");
    // The dialog and its message box share the caption; the dialog is the one with the list.
    HWND dialog = nullptr;
    WaitFor(
        [&] {
            for (HWND window : TopWindows(program.info.dwProcessId))
                if (Caption(window) == kUninstallerCaption && GetDlgItem(window, 1006))
                    dialog = window;
            return dialog != nullptr;
        },
        kDialogWait);
    Check(dialog != nullptr, "uninstaller creates its dialog");
    MessageBoxSeen box =
        WaitMessageBox(program.info.dwProcessId, kUninstallerCaption, kDialogWait, dialog);
    if (Check(box.window != nullptr, "the no-driver message shows")) {
        CheckText("no-driver message", box.text, kNoDriver);
        Screenshot("uninstaller-nothing-installed");
        Answer(box, IDOK);
    }
    const long code = WaitExit(program, 15000, "uninstaller");
    Check(code == 0, "uninstaller ends with exit code 0", std::to_string(code));
    Check(!KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY),
          "the stale uninstall entry is deleted");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string scenario = argc > 1 ? argv[1] : "";
    if (scenario == "idle") {
        for (;;) Sleep(1000);
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: R3TestDriver <scenario> <kit folder> [screenshot folder]\n");
        return 100;
    }
    g_kit = argv[2];
    if (argc > 3) SetScreenshotFolder(argv[3]);
    const std::map<std::string, void (*)()> scenarios{
        {"resources", [] { CheckResources(g_kit); }},
        {"install-cancel", &InstallCancel},
        {"install-com1", &InstallCom1},
        {"remove-leftover-driver", &RemoveLeftoverDriver},
        {"remove-leftover-processor", &RemoveLeftoverProcessor},
        {"forget-print-processor", &ForgetPrintProcessor},
        {"install-usb", [] { InstallUsb(false); }},
        {"install-usb-inf-present", [] { InstallUsb(true); }},
        {"uninstall-driver-only", &UninstallDriverOnly},
        {"uninstall-cancel", &UninstallCancel},
        {"uninstall-one", &UninstallOne},
        {"uninstall-rest", &UninstallRest},
        {"uninstall-nothing", &UninstallNothing},
    };
    const auto found = scenarios.find(scenario);
    if (found == scenarios.end()) {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 100;
    }
    found->second();
    return Failures();
}
