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

TEST(FakeWindows, SpoolerDropsObjectsWhoseKeysWereDeletedWhenItRestarts) {
    FakeWindows win;
    win.AddMonitor({"Mon", "Windows x64", "mon.dll"});
    win.CreateKey("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Mon\\Sub");
    ASSERT_EQ(win.RegDeleteKeyExA(HKEY_LOCAL_MACHINE,
                                  "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Mon\\Sub",
                                  KEY_WOW64_64KEY, 0),
              0u);
    ASSERT_EQ(win.RegDeleteKeyExA(HKEY_LOCAL_MACHINE,
                                  "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Mon",
                                  KEY_WOW64_64KEY, 0),
              0u);
    EXPECT_TRUE(win.HasMonitor("Mon"));
    win.WinExec("net stop spooler", SW_HIDE);
    std::vector<PrinterInfo2> printers;
    EXPECT_FALSE(win.EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, printers));
    win.WinExec("net start spooler", SW_HIDE);
    EXPECT_FALSE(win.HasMonitor("Mon"));
}

}  // namespace
}  // namespace tessaly::winsys::fake
