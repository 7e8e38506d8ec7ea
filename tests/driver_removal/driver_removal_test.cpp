#include "driver_removal.h"

#include <gtest/gtest.h>

#include "fake_system_setup.h"

namespace tessaly::removal {
namespace {

using testing::ExpectNoLeaks;
using winsys::fake::FakeConfig;
using winsys::fake::FakeWindows;

TEST(RemoveDriverPackage, TakesEverythingOffAnInstalledSystemInTheDocumentedOrder) {
    FakeWindows win;
    testing::SeedInstalledDriver(win);
    win.journal().Clear();
    RemovalReport report;
    // A queue of the driver is deleted first by the callers; here it is gone already.
    DeletePrinterQueue(win, "Vantreel R-3", report);
    RemoveDriverPackage(win, "R-3", 'E', report);
    testing::PrintJournal(win, "RemoveDriverPackage");

    EXPECT_TRUE(report.Empty()) << report.Text(win, true);
    EXPECT_FALSE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_FALSE(win.HasMonitor("Vantreel Language Monitor R-3"));
    EXPECT_FALSE(win.HasPrintProcessor("Windows x64", "Vantreel PRINT PROCESSOR R-3"));
    EXPECT_FALSE(win.HasForm("[R3] 80mm x 297mm"));
    EXPECT_TRUE(win.HasForm("R3 Roll"));  // no brackets: not the driver's form
    EXPECT_FALSE(win.FileExists(win.WindowsDir() + "\\MONR3.DLL"));
    EXPECT_FALSE(win.FileExists(win.PrintProcessorDir() + "\\PROR3.dll"));
    EXPECT_FALSE(win.FileExists(win.DriverDir() + "\\3\\R3E.BUD"));
    EXPECT_FALSE(win.FileExists(win.DriverDir() + "\\3\\R3E.GPD"));
    // The universal driver's files stay for the other driver that uses them.
    EXPECT_TRUE(win.HasDriver("Windows x64", "Label Printer"));
    EXPECT_TRUE(win.FileExists(win.DriverDir() + "\\3\\UNIDRV.DLL"));
    EXPECT_TRUE(win.InfNames().empty());
    EXPECT_FALSE(win.KeyExists(testing::kUninstallKey64));
    EXPECT_FALSE(win.KeyExists("HKLM\\SOFTWARE\\VANTREEL_POS_PRINTER\\Vantreel_R-3"));
    EXPECT_FALSE(win.KeyExists(testing::kLptEnumKey));
    // The USBPRINT key has its device instance under it: it stays, as Windows had it.
    EXPECT_TRUE(win.KeyExists(testing::kUsbPrintKey));
    EXPECT_EQ(win.KeyDacl(testing::kUsbPrintKey), testing::kEnumKeyDacl);
    EXPECT_FALSE(win.HasDevice("USB\\VID_2E9B&PID_0006&REV_0100"));
    EXPECT_FALSE(win.DirectoryExists(win.DriverDir() + "\\vantreel_r_3a103"));
    EXPECT_EQ(win.ProfileString("windows", "DeviceNotSelectedTimeout"), "15");
    EXPECT_EQ(win.ProfileString("windows", "TransmissionRetryTimeout"), "90");
    EXPECT_TRUE(win.SpoolerRunning());

    const auto& j = win.journal();
    const int forms = j.Find("DeleteFormA");
    const int allFiles = j.Find(
        "DeletePrinterDriverExA(NULL, \"Windows x64\", \"Vantreel R-3\", 0x4, 3) -> FALSE, error "
        "3001");
    const int driver =
        j.Find("DeletePrinterDriverExA(NULL, \"Windows x64\", \"Vantreel R-3\", 0x1, 3) -> TRUE");
    const int stop = j.Find("ControlService(#");
    const int stopped = j.Find("QueryServiceStatus", stop);
    const int start = j.Find("StartServiceA");
    const int monitor =
        j.Find("DeleteMonitorA(NULL, \"Windows x64\", \"Vantreel Language Monitor R-3\")");
    const int processor =
        j.Find("DeletePrintProcessorA(NULL, \"Windows x64\", \"Vantreel PRINT PROCESSOR R-3\")");
    const int files = j.Find("DeleteFileA(\"C:\\Windows\\system32\\MONR3.DLL\")");
    const int inf = j.Find("SetupUninstallOEMInfA(\"oem3.inf\", 0x1, NULL) -> TRUE");
    const int key = j.Find(
        "RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "
        "\"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantreel_R-3\", 0x100, 0) -> "
        "0");
    const int devices = j.Find("SetupDiGetClassDevsA(NULL, \"USB\", NULL, 0x6)");
    const int usbprint = j.Find("RegConnectRegistryA(\"\\\\DESK-01\", HKEY_LOCAL_MACHINE)");
    const int lptenum = j.Find("LPTENUM", usbprint);
    const int profile =
        j.Find("WriteProfileStringA(\"windows\", \"DeviceNotSelectedTimeout\", \"15\")");
    const int infList = j.Find("SetupGetInfFileListA(NULL, 2)");
    const int folder = j.Find(
        "GetFileAttributesA(\"C:\\Windows\\system32\\spool\\drivers\\x64\\vantreel_r_3a103\")");
    for (int index : {forms, allFiles, driver, stop, stopped, start, monitor, processor, files, inf,
                      key, devices, usbprint, lptenum, profile, infList, folder})
        EXPECT_GE(index, 0);
    EXPECT_TRUE(forms < allFiles && allFiles < driver && driver < stop && stop < stopped &&
                stopped < start && start < monitor && monitor < processor && processor < files &&
                files < inf && inf < key && key < devices && devices < usbprint &&
                usbprint < lptenum && lptenum < profile && profile < infList && infList < folder);
    EXPECT_EQ(j.Count("DeleteFormA"), 1);
    EXPECT_FALSE(j.Contains("WinExec"));
    ExpectNoLeaks(win);
}

TEST(RemoveDriverPackage, OnACleanSystemCompletesQuietlyAndResetsTheProfile) {
    FakeWindows win;
    RemovalReport report;
    RemoveDriverPackage(win, "R-3", 'E', report);
    EXPECT_TRUE(report.Empty()) << report.Text(win, true);
    EXPECT_TRUE(win.Messages().empty());
    EXPECT_EQ(win.ProfileString("windows", "DeviceNotSelectedTimeout"), "15");
    EXPECT_EQ(win.ProfileString("windows", "TransmissionRetryTimeout"), "90");
    EXPECT_FALSE(win.ExitCode().has_value());
    EXPECT_TRUE(win.SpoolerRunning());
    ExpectNoLeaks(win);
}

TEST(RemoveDriverPackage, AMonitorInThe64BitSystemFolderIsReachedThroughSysnative) {
    FakeWindows win;
    // A 32-bit program that names the system folder is led to SysWOW64.
    win.AddFile(win.WindowsDir() + "\\system32\\MONR3.DLL");
    win.AddFile(win.WindowsDir() + "\\SysWOW64\\MONR3.DLL");
    RemovalReport report;
    RemoveDriverPackage(win, "R-3", 'E', report);
    EXPECT_FALSE(win.FileExists(win.WindowsDir() + "\\system32\\MONR3.DLL"));
    EXPECT_FALSE(win.FileExists(win.WindowsDir() + "\\SysWOW64\\MONR3.DLL"));
    EXPECT_TRUE(
        win.journal().Contains("DeleteFileA(\"C:\\Windows\\Sysnative\\MONR3.DLL\") -> TRUE"));
}

TEST(RemoveDriverPackage, NeverDeletesAtTheDriveRootWhenADirectoryIsUnknown) {
    FakeWindows win;
    win.AddFile("C:\\3\\R3E.dll");
    win.AddDirectory("C:\\vantreel_r_3a103");
    win.AddFile("C:\\PROR3.dll");
    win.FailCall("GetPrinterDriverDirectoryA", 1722);
    win.FailCall("GetPrintProcessorDirectoryA", 1722);
    RemovalReport report;
    RemoveDriverPackage(win, "R-3", 'E', report);
    EXPECT_TRUE(win.FileExists("C:\\3\\R3E.dll"));
    EXPECT_TRUE(win.FileExists("C:\\PROR3.dll"));
    EXPECT_TRUE(win.DirectoryExists("C:\\vantreel_r_3a103"));
    EXPECT_FALSE(win.journal().Contains("FindFirstFileA"));
}

TEST(RemoveDriver, RefusedSpoolerDeletionsFallBackToTheKeysWhileTheSpoolerIsStopped) {
    FakeWindows win;
    testing::SeedInstalledDriver(win);  // the queue still uses the driver
    win.journal().Clear();
    RemovalReport report;
    RemoveDriver(win, "R-3", 'E', report);
    const auto& j = win.journal();
    for (const char* flags : {"0x4", "0x1", "0x0"})
        EXPECT_TRUE(
            j.Contains(std::string("\"Vantreel R-3\", ") + flags + ", 3) -> FALSE, error 3001"))
            << flags;
    const int stopped = j.Find("QueryServiceStatus(#", j.Find("ControlService"));
    ASSERT_GE(stopped, 0);
    EXPECT_NE(j.Lines()[static_cast<std::size_t>(j.Find("[state 1]", stopped))].find("TRUE"),
              std::string::npos);
    const int driverKey = j.Find(
        "RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "
        "\"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows "
        "x64\\Drivers\\Version-3\\Vantreel R-3\", 0x100, 0) -> 0");
    // The queue's key has subkeys of its own: it goes as a whole.
    const int printerKey = j.Find(
        "RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "
        "\"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Vantreel R-3\", 0x100, 0) -> 0");
    EXPECT_GT(driverKey, j.Find("[state 1]", stopped));
    EXPECT_GT(printerKey, driverKey);
    EXPECT_LT(printerKey, j.Find("StartServiceA"));
    EXPECT_TRUE(j.Contains("\\Printers\\Vantreel R-3\\DsSpooler\", 0x100, 0) -> 0"));
    // The spooler drops what lost its key when it starts again.
    EXPECT_FALSE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_FALSE(win.HasPrinter("Vantreel R-3"));
    EXPECT_FALSE(win.HasMonitor("Vantreel Language Monitor R-3"));
    EXPECT_TRUE(report.Empty()) << report.Text(win, true);

    FakeWindows clean;
    clean.FailCall("DeleteMonitorA", 3008);
    clean.FailCall("DeletePrintProcessorA", 1798);
    RemovalReport cleanReport;
    RemoveDriver(clean, "R-3", 'E', cleanReport);
    EXPECT_TRUE(
        clean.journal().Contains("\"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Vantreel "
                                 "Language Monitor R-3\", 0x100, 0) -> 2"));
    EXPECT_TRUE(clean.journal().Contains(
        "\"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print "
        "Processors\\Vantreel PRINT PROCESSOR R-3\", 0x100, 0) -> 2"));
    EXPECT_TRUE(cleanReport.Empty()) << cleanReport.Text(clean, true);
}

TEST(RemoveDriver, AQueueWithJobsGoesWithItsDriverWhenTheSpoolerStartsAgain) {
    FakeWindows win;
    testing::SeedInstalledDriver(win);
    win.AddPrintJobs("Vantreel R-3", 2);
    RemovalReport report;
    DeletePrinterQueue(win, "Vantreel R-3", report);
    // Only marked for deletion: still listed, still using the driver.
    ASSERT_TRUE(win.HasPrinter("Vantreel R-3"));
    RemoveDriver(win, "R-3", 'E', report);
    EXPECT_FALSE(win.HasPrinter("Vantreel R-3"));
    EXPECT_FALSE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_FALSE(
        win.KeyExists("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Vantreel R-3"));
    EXPECT_TRUE(win.SpoolerRunning());
    EXPECT_TRUE(report.Empty()) << report.Text(win, true);
}

TEST(RemoveDriver, ASpoolerThatDoesNotStopKeepsTheDriverKeysAndIsReported) {
    FakeWindows win(FakeConfig{.spoolerStopMs = 120000});
    testing::SeedInstalledDriver(win);
    RemovalReport report;
    RemoveDriver(win, "R-3", 'E', report);
    // Nothing is deleted under a spooler that still runs, and the waits end.
    EXPECT_TRUE(
        win.KeyExists("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows "
                      "x64\\Drivers\\Version-3\\Vantreel R-3"));
    EXPECT_LE(win.TotalSleepMs(), 61000u);
    EXPECT_FALSE(report.DriverRemoved());
    const std::string text = report.Text(win, true);
    EXPECT_NE(text.find("the print spooler could not be stopped"), std::string::npos) << text;
    EXPECT_NE(
        text.find("the driver Vantreel R-3 could not be removed: The specified printer driver "
                  "is currently in use."),
        std::string::npos)
        << text;
    EXPECT_EQ(text.rfind("The removal is not complete:", 0), 0u) << text;
    ExpectNoLeaks(win);
}

TEST(RemoveDriver, RecordedInfNameIsCutByTheLengthOfTheInfFolderPrefix) {
    FakeWindows win(FakeConfig{.windowsDirectory = "X:\\WINDOWS"});
    win.AddInf("oem7.inf", testing::kDriverInf);
    win.SetStringValue(testing::kUninstallKey64, "InfFile", "X:\\WINDOWS\\INF\\oem7.inf");
    RemovalReport report;
    RemoveDriver(win, "R-3", 'E', report);
    EXPECT_TRUE(win.journal().Contains("SetupUninstallOEMInfA(\"oem7.inf\", 0x1, NULL) -> TRUE"));

    // The prefix itself is not compared, and a short value leaves an empty name.
    FakeWindows other(FakeConfig{.windowsDirectory = "X:\\WINDOWS"});
    other.SetStringValue(testing::kUninstallKey64, "InfFile", "X:\\SHORT");
    RemoveDriver(other, "R-3", 'E', report);
    EXPECT_TRUE(
        other.journal().Contains("SetupUninstallOEMInfA(\"\", 0x1, NULL) -> FALSE, error 87"));
    EXPECT_FALSE(other.KeyExists(testing::kUninstallKey64));
    ExpectNoLeaks(other);
}

TEST(DeletePrinterQueue, DeletesTheQueueAndItsWholeKeyWithSpacesReplaced) {
    FakeWindows win;
    testing::SeedInstalledDriver(win);
    win.AddPrinter(testing::Queue("Front Desk R-3"));
    win.CreateKey("HKLM\\SOFTWARE\\VANTREEL_POS_PRINTER\\Front_Desk_R-3\\Settings");
    win.journal().Clear();
    RemovalReport report;
    DeletePrinterQueue(win, "Front Desk R-3", report);
    EXPECT_FALSE(win.HasPrinter("Front Desk R-3"));
    EXPECT_TRUE(win.HasPrinter("Vantreel R-3"));
    EXPECT_FALSE(win.KeyExists("HKLM\\SOFTWARE\\VANTREEL_POS_PRINTER\\Front_Desk_R-3"));
    EXPECT_EQ(win.journal().Lines().front(),
              "OpenPrinterA(\"Front Desk R-3\", {\"raw\", 0xF000C}) -> TRUE [#104]");
    EXPECT_EQ(PerPrinterKey("Vantreel R-3(#1)"),
              "SOFTWARE\\VANTREEL_POS_PRINTER\\Vantreel_R-3(#1)");
    // A queue that is already gone still has its key deleted, and is no problem.
    DeletePrinterQueue(win, "Gone", report);
    EXPECT_TRUE(win.journal().Contains("\"SOFTWARE\\VANTREEL_POS_PRINTER\\Gone\", 0x100, 0) -> 2"));
    EXPECT_TRUE(report.Empty()) << report.Text(win, false);
    ExpectNoLeaks(win);

    // A refusal is reported with the system's reason.
    win.FailCall("DeletePrinter", winsys::ERROR_ACCESS_DENIED);
    DeletePrinterQueue(win, "Vantreel R-3", report);
    EXPECT_TRUE(win.HasPrinter("Vantreel R-3"));
    EXPECT_EQ(report.Text(win, false),
              "Queue Vantreel R-3 could not be deleted: Access is denied.");
}

TEST(UninstallOemInfFiles, UninstallsOnlyLowerCaseOemFilesThatListTheDriver) {
    FakeWindows win;
    win.AddInf("oem1.inf", testing::kDriverInf);  // from another installation: still ours
    win.AddInf("oem2.inf", "[Version]\n[Other]\nVantreel R-3 = x\n");
    win.AddInf("OEM4.inf", testing::kDriverInf);
    win.AddInf("printer.inf", testing::kDriverInf);
    UninstallOemInfFiles(win);
    EXPECT_EQ(win.InfNames(), (std::vector<std::string>{"oem2.inf", "OEM4.inf", "printer.inf"}));
    EXPECT_FALSE(win.journal().Contains("SetupOpenInfFileA(\"OEM4.inf\""));
    EXPECT_EQ(win.journal().Count("SetupOpenInfFileA"), 2);
    ExpectNoLeaks(win);
}

TEST(RemoveUsbDevices, ComparesTheFirstHardwareIdOver21Characters) {
    FakeWindows win;
    win.AddUsbDevice({"usb\\vid_2e9b&pid_0006&rev_0100"});
    win.AddUsbDevice({"USB\\VID_2E9B&PID_0007"});
    win.AddUsbDevice({"USB\\VID_1234&PID_0001", "USB\\VID_2E9B&PID_0006"});
    win.AddUsbDevice({"USB\\VID_2E9B&PID_0006&REV_0200", "x"}, false);  // not present
    EXPECT_TRUE(RemoveUsbDevices(win, "USB\\Vid_2E9B&Pid_0006"));
    EXPECT_FALSE(win.HasDevice("usb\\vid_2e9b&pid_0006&rev_0100"));
    EXPECT_TRUE(win.HasDevice("USB\\VID_2E9B&PID_0007"));
    EXPECT_TRUE(win.HasDevice("USB\\VID_1234&PID_0001"));
    EXPECT_TRUE(win.HasDevice("USB\\VID_2E9B&PID_0006&REV_0200"));

    // Characters of the prefix past the 21st do not take part.
    FakeWindows other;
    other.AddUsbDevice({"USB\\VID_2E9B&PID_0006"});
    EXPECT_TRUE(RemoveUsbDevices(other, "USB\\Vid_2E9B&Pid_0006&MI_00"));
    EXPECT_FALSE(other.HasDevice("USB\\VID_2E9B&PID_0006"));
    ExpectNoLeaks(win);
}

TEST(RemoveUsbDevices, EndsTheWalkOnErrorsAndReleasesTheSet) {
    FakeWindows win;
    win.AddUsbDevice({"USB\\VID_2E9B&PID_0006"});
    win.FailCall("SetupDiEnumDeviceInfo", winsys::ERROR_INVALID_HANDLE);
    EXPECT_FALSE(RemoveUsbDevices(win, kUsbHardwareIdPrefix));
    EXPECT_EQ(win.journal().Count("SetupDiEnumDeviceInfo"), 1);
    ExpectNoLeaks(win);

    FakeWindows refusing;
    refusing.AddUsbDevice({"USB\\VID_2E9B&PID_0006"});
    refusing.AddUsbDevice({"USB\\VID_2E9B&PID_0006&REV_0100"});
    refusing.FailCall("SetupDiRemoveDevice", 5);
    EXPECT_FALSE(RemoveUsbDevices(refusing, kUsbHardwareIdPrefix));
    EXPECT_EQ(refusing.journal().Count("SetupDiRemoveDevice"), 1);  // stops at the first
    ExpectNoLeaks(refusing);

    FakeWindows noSet;
    noSet.FailCall("SetupDiGetClassDevsA", 5);
    EXPECT_FALSE(RemoveUsbDevices(noSet, kUsbHardwareIdPrefix));
}

TEST(DeleteFolderTree, RemovesReadOnlyEntriesAtEveryDepth) {
    FakeWindows win;
    win.AddDirectory("C:\\Data\\Tree", winsys::FILE_ATTRIBUTE_READONLY);
    win.AddFile("C:\\Data\\Tree\\a.txt", "", winsys::FILE_ATTRIBUTE_READONLY);
    win.AddDirectory("C:\\Data\\Tree\\Sub", winsys::FILE_ATTRIBUTE_READONLY);
    win.AddFile("C:\\Data\\Tree\\Sub\\b.txt", "", winsys::FILE_ATTRIBUTE_READONLY);
    win.AddDirectory("C:\\Data\\Tree\\Sub\\Empty");
    win.AddFile("C:\\Data\\keep.txt");
    DeleteFolderTree(win, "C:\\Data\\Tree\\");
    EXPECT_FALSE(win.DirectoryExists("C:\\Data\\Tree"));
    EXPECT_EQ(win.ListDirectory("C:\\Data"), std::vector<std::string>{"keep.txt"});
    ExpectNoLeaks(win);

    // A missing folder is no error and leaves no search open.
    win.journal().Clear();
    DeleteFolderTree(win, "C:\\Data\\Missing");
    EXPECT_FALSE(win.journal().Contains("FindClose"));
    EXPECT_TRUE(
        win.journal().Contains("RemoveDirectoryA(\"C:\\Data\\Missing\") -> FALSE, error 2"));
}

TEST(DeleteFolderTree, RemovesLinksWithoutFollowingThem) {
    FakeWindows win;
    win.AddFile("C:\\Users\\Ann\\Documents\\letter.txt");
    win.AddDirectory("C:\\Data\\Tree");
    win.AddJunction("C:\\Data\\Tree\\Documents", "C:\\Users\\Ann\\Documents");
    DeleteFolderTree(win, "C:\\Data\\Tree");
    EXPECT_FALSE(win.DirectoryExists("C:\\Data\\Tree"));
    EXPECT_TRUE(win.FileExists("C:\\Users\\Ann\\Documents\\letter.txt"));

    // The folder itself being a link: the link goes, its target stays whole.
    win.AddJunction("C:\\Data\\Link", "C:\\Users\\Ann");
    DeleteFolderTree(win, "C:\\Data\\Link");
    EXPECT_FALSE(win.DirectoryExists("C:\\Data\\Link"));
    EXPECT_TRUE(win.FileExists("C:\\Users\\Ann\\Documents\\letter.txt"));
    ExpectNoLeaks(win);
}

TEST(RestartWindows, EnablesTheShutdownPrivilegeAndLetsProgramsAskToSave) {
    FakeWindows win;
    EXPECT_TRUE(RestartWindows(win));
    // EWX_REBOOT | EWX_FORCEIFHUNG: only programs that do not answer are ended.
    EXPECT_EQ(win.RestartFlags(), 0x12u);
    EXPECT_TRUE(win.journal().Contains("OpenProcessToken(current process, 0x28)"));
    EXPECT_TRUE(win.journal().Contains("AdjustTokenPrivileges(#104, FALSE, {1, luid 19, 0x2})"));
    ExpectNoLeaks(win);

    FakeWindows notHeld(FakeConfig{.shutdownPrivilegeHeld = false});
    EXPECT_FALSE(RestartWindows(notHeld));
    EXPECT_FALSE(notHeld.journal().Contains("ExitWindowsEx"));
    ExpectNoLeaks(notHeld);

    FakeWindows noToken;
    noToken.FailCall("OpenProcessToken", 5);
    EXPECT_FALSE(RestartWindows(noToken));
    EXPECT_FALSE(noToken.RestartFlags().has_value());
}

}  // namespace
}  // namespace tessaly::removal
