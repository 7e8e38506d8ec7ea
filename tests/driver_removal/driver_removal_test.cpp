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
    // A queue of the driver is deleted first by the callers; here it is gone already.
    DeletePrinterQueue(win, "Vantreel R-3");
    RemoveDriverPackage(win, "R-3", 'E');
    testing::PrintJournal(win, "RemoveDriverPackage");

    EXPECT_FALSE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_FALSE(win.HasMonitor("Vantreel Language Monitor R-3"));
    EXPECT_FALSE(win.HasPrintProcessor("Windows x64", "Vantreel PRINT PROCESSOR R-3"));
    EXPECT_FALSE(win.HasForm("[R3] 80mm x 297mm"));
    EXPECT_TRUE(win.HasForm("R3 Roll"));  // no brackets: not the driver's form
    EXPECT_FALSE(win.FileExists(win.WindowsDir() + "\\MONR3.DLL"));
    EXPECT_FALSE(win.FileExists(win.PrintProcessorDir() + "\\PROR3.dll"));
    EXPECT_FALSE(win.FileExists(win.DriverDir() + "\\3\\R3E.BUD"));
    EXPECT_TRUE(win.InfNames().empty());
    EXPECT_FALSE(win.KeyExists(testing::kUninstallKey64));
    EXPECT_FALSE(win.KeyExists(testing::kUsbPrintKey));
    EXPECT_FALSE(win.KeyExists(testing::kLptEnumKey));
    EXPECT_FALSE(win.HasDevice("USB\\VID_2E9B&PID_0006&REV_0100"));
    EXPECT_FALSE(win.DirectoryExists(win.DriverDir() + "\\vantreel_r_3a103"));
    EXPECT_EQ(win.ProfileString("windows", "DeviceNotSelectedTimeout"), "15");
    EXPECT_EQ(win.ProfileString("windows", "TransmissionRetryTimeout"), "90");
    EXPECT_TRUE(win.SpoolerRunning());
    EXPECT_EQ(win.TotalSleepMs(), 6000u);

    const auto& j = win.journal();
    const int forms = j.Find("DeleteFormA");
    const int driver =
        j.Find("DeletePrinterDriverExA(NULL, \"Windows x64\", \"Vantreel R-3\", 0x4, 3) -> TRUE");
    const int stop = j.Find("WinExec(\"net stop spooler\", 0)");
    const int start = j.Find("WinExec(\"net start spooler\", 0)");
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
    for (int index : {forms, driver, stop, start, monitor, processor, files, inf, key, devices,
                      usbprint, lptenum, profile, infList, folder})
        EXPECT_GE(index, 0);
    EXPECT_TRUE(forms < driver && driver < stop && stop < start && start < monitor &&
                monitor < processor && processor < files && files < inf && inf < key &&
                key < devices && devices < usbprint && usbprint < lptenum && lptenum < profile &&
                profile < infList && infList < folder);
    EXPECT_EQ(j.Count("DeleteFormA"), 1);
    ExpectNoLeaks(win);
}

TEST(RemoveDriverPackage, OnACleanSystemCompletesQuietlyAndResetsTheProfile) {
    FakeWindows win;
    RemoveDriverPackage(win, "R-3", 'E');
    EXPECT_TRUE(win.Messages().empty());
    EXPECT_EQ(win.ProfileString("windows", "DeviceNotSelectedTimeout"), "15");
    EXPECT_EQ(win.ProfileString("windows", "TransmissionRetryTimeout"), "90");
    EXPECT_FALSE(win.ExitCode().has_value());
    ExpectNoLeaks(win);
}

TEST(RemoveDriverPackage, NeverDeletesAtTheDriveRootWhenADirectoryIsUnknown) {
    FakeWindows win;
    win.AddFile("C:\\3\\R3E.dll");
    win.AddDirectory("C:\\vantreel_r_3a103");
    win.AddFile("C:\\PROR3.dll");
    win.FailCall("GetPrinterDriverDirectoryA", 1722);
    win.FailCall("GetPrintProcessorDirectoryA", 1722);
    RemoveDriverPackage(win, "R-3", 'E');
    EXPECT_TRUE(win.FileExists("C:\\3\\R3E.dll"));
    EXPECT_TRUE(win.FileExists("C:\\PROR3.dll"));
    EXPECT_TRUE(win.DirectoryExists("C:\\vantreel_r_3a103"));
    EXPECT_FALSE(win.journal().Contains("FindFirstFileA"));
}

TEST(RemoveDriver, RefusedSpoolerDeletionsFallBackToTheRegistryKeys) {
    FakeWindows win;
    testing::SeedInstalledDriver(win);  // the queue still uses the driver
    win.journal().Clear();
    RemoveDriver(win, "R-3", 'E');
    const auto& j = win.journal();
    EXPECT_TRUE(
        j.Contains("DeletePrinterDriverExA(NULL, \"Windows x64\", \"Vantreel R-3\", 0x4, 3) -> "
                   "FALSE, error 3001"));
    const int driverKey = j.Find(
        "RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "
        "\"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows "
        "x64\\Drivers\\Version-3\\Vantreel R-3\", 0x100, 0) -> 0");
    const int printerKey = j.Find(
        "RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "
        "\"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Vantreel R-3\", 0x100, 0) -> 0");
    EXPECT_GE(driverKey, 0);
    EXPECT_GT(printerKey, driverKey);
    EXPECT_LT(printerKey, j.Find("net stop spooler"));
    // The spooler drops what lost its key when it starts again.
    EXPECT_FALSE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_FALSE(win.HasPrinter("Vantreel R-3"));
    EXPECT_FALSE(win.HasMonitor("Vantreel Language Monitor R-3"));

    FakeWindows clean;
    clean.FailCall("DeleteMonitorA", 3008);
    clean.FailCall("DeletePrintProcessorA", 1798);
    RemoveDriver(clean, "R-3", 'E');
    EXPECT_TRUE(
        clean.journal().Contains("\"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Vantreel "
                                 "Language Monitor R-3\", 0x100, 0) -> 2"));
    EXPECT_TRUE(clean.journal().Contains(
        "\"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print "
        "Processors\\Vantreel PRINT PROCESSOR R-3\", 0x100, 0) -> 2"));
}

TEST(RemoveDriver, RecordedInfNameIsCutByTheLengthOfTheInfFolderPrefix) {
    FakeWindows win(FakeConfig{.windowsDirectory = "X:\\WINDOWS"});
    win.AddInf("oem7.inf", testing::kDriverInf);
    win.SetStringValue(testing::kUninstallKey64, "InfFile", "X:\\WINDOWS\\INF\\oem7.inf");
    RemoveDriver(win, "R-3", 'E');
    EXPECT_TRUE(win.journal().Contains("SetupUninstallOEMInfA(\"oem7.inf\", 0x1, NULL) -> TRUE"));

    // The prefix itself is not compared, and a short value leaves an empty name.
    FakeWindows other(FakeConfig{.windowsDirectory = "X:\\WINDOWS"});
    other.SetStringValue(testing::kUninstallKey64, "InfFile", "X:\\SHORT");
    RemoveDriver(other, "R-3", 'E');
    EXPECT_TRUE(
        other.journal().Contains("SetupUninstallOEMInfA(\"\", 0x1, NULL) -> FALSE, error 87"));
    EXPECT_FALSE(other.KeyExists(testing::kUninstallKey64));
    ExpectNoLeaks(other);
}

TEST(DeletePrinterQueue, DeletesTheQueueAndItsKeyWithSpacesReplaced) {
    FakeWindows win;
    testing::SeedInstalledDriver(win);
    win.AddPrinter(testing::Queue("Front Desk R-3"));
    win.CreateKey("HKLM\\SOFTWARE\\VANTREEL_POS_PRINTER\\Front_Desk_R-3");
    win.journal().Clear();
    DeletePrinterQueue(win, "Front Desk R-3");
    EXPECT_FALSE(win.HasPrinter("Front Desk R-3"));
    EXPECT_TRUE(win.HasPrinter("Vantreel R-3"));
    EXPECT_FALSE(win.KeyExists("HKLM\\SOFTWARE\\VANTREEL_POS_PRINTER\\Front_Desk_R-3"));
    EXPECT_EQ(win.journal().Lines().front(),
              "OpenPrinterA(\"Front Desk R-3\", {\"raw\", 0xF000C}) -> TRUE [#104]");
    EXPECT_EQ(PerPrinterKey("Vantreel R-3(#1)"),
              "SOFTWARE\\VANTREEL_POS_PRINTER\\Vantreel_R-3(#1)");
    // A queue that is already gone still has its key deleted.
    DeletePrinterQueue(win, "Gone");
    EXPECT_TRUE(win.journal().Contains("\"SOFTWARE\\VANTREEL_POS_PRINTER\\Gone\", 0x100, 0) -> 2"));
    ExpectNoLeaks(win);
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

TEST(RestartWindows, EnablesTheShutdownPrivilegeAndForcesARestart) {
    FakeWindows win;
    EXPECT_TRUE(RestartWindows(win));
    EXPECT_EQ(win.RestartFlags(), 6u);
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
