// The fake's Windows semantics that the sequences depend on; a Win32 back end must agree.
#include "winsys/fake/fake_windows.h"

#include <gtest/gtest.h>

namespace tessaly::winsys::fake {
namespace {

TEST(FakeWindows, ThirtyTwoBitProgramsSeeTheRedirectedSoftwareKey) {
    FakeWindows win;
    HKEY key = kNullHandle;
    ASSERT_EQ(
        win.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_WRITE, &key, nullptr),
        0u);
    win.RegCloseKey(key);
    EXPECT_TRUE(win.KeyExists("HKLM\\SOFTWARE\\WOW6432Node\\Vendor"));
    EXPECT_EQ(win.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0,
                                KEY_READ | KEY_WOW64_64KEY, &key),
              2u);
    // Keys outside SOFTWARE are shared by both views.
    win.CreateKey("HKLM\\SYSTEM\\Shared");
    ASSERT_EQ(win.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Shared", 0, KEY_READ, &key), 0u);
    win.RegCloseKey(key);
    EXPECT_TRUE(win.LeakedHandles().empty());
}

TEST(FakeWindows, InjectedFailuresMatchByNameArgumentsAndCount) {
    FakeWindows win;
    win.AddFile("C:\\a.txt");
    win.AddFile("C:\\b.txt");
    win.FailCall("DeleteFileA", 5, "b.txt", 1);
    EXPECT_TRUE(win.DeleteFileA("C:\\a.txt"));
    EXPECT_FALSE(win.DeleteFileA("C:\\b.txt"));
    EXPECT_EQ(win.GetLastError(), 5u);
    EXPECT_TRUE(win.DeleteFileA("C:\\b.txt"));
    EXPECT_EQ(win.journal().Lines()[1], "DeleteFileA(\"C:\\b.txt\") -> FALSE, error 5");
}

TEST(FakeWindows, FilesFollowWindowsRules) {
    FakeWindows win;
    win.AddFile("C:\\Dir\\locked.txt", "", FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(win.DeleteFileA("C:\\dir\\LOCKED.TXT"));
    EXPECT_EQ(win.GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(win.RemoveDirectoryA("C:\\Dir"));
    EXPECT_EQ(win.GetLastError(), ERROR_DIR_NOT_EMPTY);
    EXPECT_FALSE(win.CopyFileA("C:\\Dir\\locked.txt", "C:\\Dir\\locked.txt", true));
    EXPECT_EQ(win.GetLastError(), ERROR_FILE_EXISTS);
    // A relative path is taken from the current directory.
    win.AddFile("C:\\Setup\\x.txt", "x");
    EXPECT_TRUE(win.CopyFileA("x.txt", "C:\\Dir\\x.txt", false));
    EXPECT_EQ(win.FileContent("C:\\Dir\\x.txt"), "x");
}

TEST(FakeWindows, InfCopyNeedsAFullPathAndNamesCopiesOemN) {
    FakeWindows win;
    win.AddFile("C:\\Setup\\Driver\\R3.INF", "[Version]\n");
    std::string name = "unchanged";
    EXPECT_FALSE(win.SetupCopyOEMInfA("Driver\\R3.INF", nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE,
                                      name, 260));
    EXPECT_EQ(win.GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(name, "unchanged");
    win.AddInf("oem0.inf", "other");
    EXPECT_TRUE(win.SetupCopyOEMInfA("C:\\Setup\\Driver\\R3.INF", nullptr, SPOST_PATH,
                                     SP_COPY_NOOVERWRITE, name, 260));
    EXPECT_EQ(name, "C:\\Windows\\INF\\oem1.inf");
    EXPECT_FALSE(win.SetupCopyOEMInfA("C:\\Setup\\Driver\\R3.INF", nullptr, SPOST_PATH,
                                      SP_COPY_NOOVERWRITE, name, 260));
    EXPECT_EQ(win.GetLastError(), ERROR_FILE_EXISTS);
}

TEST(FakeWindows, SpoolerTakesTimeToStopAndDropsObjectsWhoseKeysWereDeleted) {
    FakeWindows win(FakeConfig{.spoolerStopMs = 2500, .spoolerStartMs = 1500});
    win.AddMonitor({"Mon", "Windows x64", "mon.dll"});
    win.CreateKey("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Mon\\Sub");
    const char* monitorKey = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Mon";
    // A key with a subkey is refused by the single-key delete.
    EXPECT_EQ(win.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, monitorKey, KEY_WOW64_64KEY, 0),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(win.RegDeleteKeyExA(HKEY_LOCAL_MACHINE,
                                  "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Mon\\Sub",
                                  KEY_WOW64_64KEY, 0),
              0u);
    ASSERT_EQ(win.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, monitorKey, KEY_WOW64_64KEY, 0), 0u);
    EXPECT_TRUE(win.HasMonitor("Mon"));

    const Handle manager = win.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    const Handle spooler =
        win.OpenServiceA(manager, "spooler", SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS);
    ServiceStatus status;
    ASSERT_TRUE(win.ControlService(spooler, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.currentState, SERVICE_STOP_PENDING);
    std::vector<PrinterInfo2> printers;
    EXPECT_FALSE(win.EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, printers));
    EXPECT_EQ(win.GetLastError(), RPC_S_SERVER_UNAVAILABLE);
    // Not stopped yet: a start is refused, as "net start" right after "net stop" is.
    win.Sleep(2000);
    EXPECT_FALSE(win.StartServiceA(spooler));
    EXPECT_EQ(win.GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);
    win.Sleep(500);
    ASSERT_TRUE(win.QueryServiceStatus(spooler, &status));
    EXPECT_EQ(status.currentState, SERVICE_STOPPED);
    EXPECT_FALSE(win.ControlService(spooler, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(win.GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
    ASSERT_TRUE(win.StartServiceA(spooler));
    win.Sleep(1500);
    EXPECT_TRUE(win.SpoolerRunning());
    EXPECT_FALSE(win.HasMonitor("Mon"));
    win.CloseServiceHandle(spooler);
    win.CloseServiceHandle(manager);
    EXPECT_TRUE(win.LeakedHandles().empty());
}

TEST(FakeWindows, DriversSharingFilesAndQueuesWithJobsFollowTheSpooler) {
    FakeWindows win;
    DriverInfo3 mine;
    mine.name = "Mine";
    mine.environment = "Windows x64";
    mine.driverPath = "UNIDRV.DLL";
    mine.dataFile = "MINE.GPD";
    DriverInfo3 other = mine;
    other.name = "Other";
    other.dataFile = "OTHER.GPD";
    win.AddDriver(mine);
    win.AddDriver(other);
    for (const char* file : {"UNIDRV.DLL", "MINE.GPD", "OTHER.GPD"})
        win.AddFile(win.DriverDir() + "\\3\\" + file);
    EXPECT_FALSE(
        win.DeletePrinterDriverExA(nullptr, "Windows x64", "Mine", DPD_DELETE_ALL_FILES, 3));
    EXPECT_EQ(win.GetLastError(), ERROR_PRINTER_DRIVER_IN_USE);
    EXPECT_TRUE(
        win.DeletePrinterDriverExA(nullptr, "Windows x64", "Mine", DPD_DELETE_UNUSED_FILES, 3));
    EXPECT_FALSE(win.FileExists(win.DriverDir() + "\\3\\MINE.GPD"));
    EXPECT_TRUE(win.FileExists(win.DriverDir() + "\\3\\UNIDRV.DLL"));

    PrinterInfo2 queue;
    queue.printerName = "Busy";
    queue.driverName = "Other";
    win.AddPrinter(queue);
    win.AddPrintJobs("Busy", 3);
    const PrinterDefaults all{"RAW", PRINTER_ALL_ACCESS};
    Handle printer = kNullHandle;
    ASSERT_TRUE(win.OpenPrinterA("Busy", &printer, &all));
    EXPECT_TRUE(win.DeletePrinter(printer));
    win.ClosePrinter(printer);
    ASSERT_TRUE(win.HasPrinter("Busy"));
    EXPECT_EQ(win.FindPrinter("Busy")->status & PRINTER_STATUS_PENDING_DELETION,
              PRINTER_STATUS_PENDING_DELETION);
    EXPECT_FALSE(win.DeletePrinterDriverExA(nullptr, "Windows x64", "Other", 0, 3));
    win.WinExec("net stop spooler", SW_HIDE);
    win.Sleep(win.config().spoolerStopMs);
    win.WinExec("net start spooler", SW_HIDE);
    win.Sleep(win.config().spoolerStartMs);
    EXPECT_FALSE(win.HasPrinter("Busy"));
    EXPECT_FALSE(win.KeyExists("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Busy"));
}

TEST(FakeWindows, KeyOwnersMayChangeTheDaclAndNobodyElse) {
    FakeWindows win;
    win.SetKeyDacl("HKLM\\SYSTEM\\Owned", Acl{{"SYSTEM", KEY_ALL_ACCESS, false, 0, false}});
    win.SetKeyDacl("HKLM\\SYSTEM\\Foreign", Acl{{"SYSTEM", KEY_ALL_ACCESS, false, 0, false}});
    win.SetKeyOwner("HKLM\\SYSTEM\\Foreign", "SYSTEM");
    HKEY key = kNullHandle;
    ASSERT_EQ(
        win.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Owned", 0, READ_CONTROL | WRITE_DAC, &key),
        0u);
    win.RegCloseKey(key);
    EXPECT_EQ(win.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Owned", 0, KEY_READ, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(win.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Foreign", 0, WRITE_DAC, &key),
              ERROR_ACCESS_DENIED);
}

TEST(FakeWindows, ProgramPathsFollowTheDriveRootRedirectionAndJunctions) {
    FakeWindows win;
    // A path that starts with one backslash is on the current drive's root.
    win.AddFile("C:\\Setup\\a.txt", "a");
    ASSERT_TRUE(win.CopyFileA("a.txt", "\\a.txt", false));
    EXPECT_TRUE(win.FileExists("C:\\a.txt"));
    // A 32-bit program's system folder is SysWOW64, but for the spooler's folder.
    ASSERT_TRUE(win.CopyFileA("a.txt", "C:\\Windows\\system32\\a.dll", false));
    EXPECT_TRUE(win.FileExists("C:\\Windows\\SysWOW64\\a.dll"));
    EXPECT_FALSE(win.FileExists("C:\\Windows\\system32\\a.dll"));
    ASSERT_TRUE(win.CopyFileA("a.txt", "C:\\Windows\\Sysnative\\a.dll", false));
    EXPECT_TRUE(win.FileExists("C:\\Windows\\system32\\a.dll"));
    ASSERT_TRUE(win.CopyFileA("a.txt", "C:\\Windows\\system32\\spool\\a.dat", false));
    EXPECT_TRUE(win.FileExists("C:\\Windows\\system32\\spool\\a.dat"));
    // Through a junction to its target; removing it leaves the target.
    win.AddJunction("C:\\Link", "C:\\Setup");
    EXPECT_EQ(win.GetFileAttributesA("C:\\Link"),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(win.GetFileAttributesA("C:\\Link\\a.txt"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_TRUE(win.RemoveDirectoryA("C:\\Link"));
    EXPECT_TRUE(win.FileExists("C:\\Setup\\a.txt"));
}

}  // namespace
}  // namespace tessaly::winsys::fake
