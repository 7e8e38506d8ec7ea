#include <gtest/gtest.h>

#include "driver_model.h"
#include "fake_system_setup.h"

namespace tessaly::installer {
namespace {

using testing::ExpectNoLeaks;
using winsys::fake::FakeWindows;
using winsys::fake::JournalStatusDisplay;

const std::vector<std::string> kFullInstallSteps{"SetStatus(\"Check drivers...\\r\\n\")",
                                                 "SetStatus(\"Add printer...\\r\\n\")",
                                                 "SetStatus(\"Install language monitor...\\r\\n\")",
                                                 "SetStatus(\"Install print processor...\\r\\n\")",
                                                 "SetStatus(\"Copy files...\\r\\n\")",
                                                 "SetStatus(\"Install printer driver...\\r\\n\")",
                                                 "SetStatus(\"Install printer...\\r\\n\")",
                                                 "SetStatus(\"Delete installed files...\\r\\n\")",
                                                 "SetStatus(\"Completed!\")",
                                                 "SetStatus(\"Completed!\")"};

class InstallDriverTest : public ::testing::Test {
  protected:
    InstallDriverTest() {
        testing::AddInstallerMedia(win);
        model.ComposeNames("3", 'E', true);
    }

    std::vector<std::string> StatusTexts() const { return win.journal().Calls({"SetStatus"}); }

    FakeWindows win;
    JournalStatusDisplay status{win.journal(), kProgressStep};
    DriverModel model{win, status};
};

TEST(DriverModel, ComposeNamesCompletesTheStems) {
    FakeWindows win;
    JournalStatusDisplay status{win.journal(), kProgressStep};
    DriverModel model{win, status};
    model.ComposeNames("3", 'E', true);
    EXPECT_EQ(model.monitorDll, "MONR3.DLL");
    EXPECT_EQ(model.monitorName, "Vantreel Language Monitor R-3");
    EXPECT_EQ(model.printProcessorDll, "PROR3.DLL");
    EXPECT_EQ(model.printProcessorName, "Vantreel PRINT PROCESSOR R-3");
    EXPECT_EQ(model.driverName, "Vantreel R-3");
    EXPECT_EQ(model.resourceDll, "R3E.DLL");
    EXPECT_EQ(model.uiDll, "UIR3.DLL");
    EXPECT_EQ(model.renderDll, "UNIR3.DLL");
    EXPECT_EQ(model.IniFile(), "UIR3.INI");
    EXPECT_EQ(model.DataFile(), "R3E.GPD");
    EXPECT_TRUE(model.infFile.empty());

    DriverModel plain{win, status};
    plain.ComposeNames("3", 'E', false);
    EXPECT_FALSE(plain.hasPrintProcessor);
    EXPECT_EQ(plain.printProcessorDll, "PROR");
    EXPECT_EQ(plain.printProcessorName, "Vantreel PRINT PROCESSOR R-");
}

TEST_F(InstallDriverTest, CleanInstallOnComPortInstallsAndRegistersEverything) {
    EXPECT_TRUE(model.InstallDriver(kPortCom1));
    testing::PrintJournal(win, "InstallDriver(COM1) on a clean system");

    EXPECT_EQ(StatusTexts(), kFullInstallSteps);
    EXPECT_EQ(status.Steps(), 8);
    EXPECT_TRUE(win.journal().Contains("StepIt() -> 88"));
    EXPECT_EQ(status.Position(), 100);
    EXPECT_EQ(win.journal().Calls({"Sleep"}).size(), 9u);  // 8 steps of 500 ms, then 2000 ms

    const auto* driver = win.FindDriver("Windows x64", "Vantreel R-3");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->dataFile, "R3E.GPD");
    EXPECT_EQ(driver->monitorName, "Vantreel Language Monitor R-3");
    EXPECT_TRUE(win.journal().Contains(
        "dependent [UNIRES.DLL STDNAMES.GPD R3E.DLL UIR3.DLL UNIR3.DLL UIR3.INI]"));
    EXPECT_TRUE(win.HasMonitor("Vantreel Language Monitor R-3"));
    EXPECT_TRUE(win.HasPrintProcessor("Windows x64", "Vantreel PRINT PROCESSOR R-3"));
    const auto* queue = win.FindPrinter("Vantreel R-3");
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->portName, "COM1:");
    EXPECT_EQ(queue->printProcessor, "Vantreel PRINT PROCESSOR R-3");
    EXPECT_EQ(queue->attributes, 0x1800u);
    EXPECT_EQ(queue->status, 0x80u);
    EXPECT_EQ(queue->priority, 1u);
    EXPECT_EQ(queue->datatype, "RAW");

    // The INF is copied from its full path and its system name recorded.
    EXPECT_TRUE(win.journal().Contains(
        "SetupCopyOEMInfA(\"C:\\Setup\\Driver\\R3.INF\", NULL, 1, 0x8, 260) -> TRUE"));
    EXPECT_EQ(model.infFile, "C:\\Windows\\INF\\oem0.inf");
    EXPECT_EQ(win.StringValue(testing::kUninstallKey64, "InfFile"), model.infFile);
    EXPECT_EQ(win.StringValue(testing::kUninstallKey64, "DisplayName"),
              "Vantreel R-3 Windows Driver V1.0.0E");
    EXPECT_EQ(win.StringValue(testing::kUninstallKey64, "Vantreel R-3"), "");
    EXPECT_EQ(win.StringValue(testing::kUninstallKey64, "UninstallString"),
              "C:\\Windows\\R-3\\R3_Uninstaller.exe");
    EXPECT_EQ(win.ProfileString("windows", "DeviceNotSelectedTimeout"), "3");
    EXPECT_EQ(win.ProfileString("windows", "TransmissionRetryTimeout"), "3");
    EXPECT_EQ(win.ListDirectory("C:\\Windows\\R-3"),
              (std::vector<std::string>{"NVLogo.exe", "NVPack.inf", "R3_Uninstaller.exe",
                                        "Tessaly.exe"}));
    // The staging copies in the driver directory are gone; the spooler's own copies stay.
    EXPECT_EQ(win.ListDirectory(win.DriverDir()), std::vector<std::string>{"3"});
    EXPECT_TRUE(win.FileExists(win.DriverDir() + "\\3\\UNIDRV.DLL"));

    ASSERT_EQ(win.Messages().size(), 1u);
    EXPECT_EQ(win.Messages()[0].text,
              "Restart the computer can take effect.\nPlease restart the computer.\n\n[Yes] I want "
              "to restart my computer now.\n[No] I will restart my computer later.");
    EXPECT_EQ(win.Messages()[0].type, 0x24u);
    EXPECT_FALSE(win.RestartFlags().has_value());
    ExpectNoLeaks(win);
}

TEST_F(InstallDriverTest, ReinstallOnlyAddsTheNextNumberedQueue) {
    testing::SeedInstalledDriver(win);
    win.AddPrinter(testing::Queue("Vantreel R-3(#1)"));
    win.journal().Clear();
    EXPECT_TRUE(model.InstallDriver(kPortCom1));

    EXPECT_EQ(win.PrinterNames(),
              (std::vector<std::string>{"Vantreel R-3", "Vantreel R-3(#1)", "Vantreel R-3(#2)"}));
    EXPECT_EQ(win.FindPrinter("Vantreel R-3(#2)")->portName, "COM1:");
    for (const char* call : {"CopyFileA", "DeleteFileA", "SetupCopyOEMInfA", "WriteProfileStringA",
                             "RegCreateKeyExA", "RegSetValueExA", "RegDeleteKeyExA", "AddMonitorA",
                             "AddPrinterDriverA", "CreateDirectoryA", "MessageBoxA", "SetupDi"})
        EXPECT_FALSE(win.journal().Contains(call)) << call;
    EXPECT_EQ(status.Steps(), 3);
    EXPECT_TRUE(
        win.journal().Contains("OpenPrinterA(\"Vantreel R-3(#2)\", NULL) -> FALSE, error 1801"));
    ExpectNoLeaks(win);

    // Choosing USB on a reinstall adds nothing at all.
    win.journal().Clear();
    EXPECT_TRUE(model.InstallDriver(kPortUsb));
    EXPECT_EQ(win.PrinterNames().size(), 3u);
    EXPECT_FALSE(win.journal().Contains("AddPrinterA"));
}

TEST_F(InstallDriverTest, UsbInstallAddsNoQueueAndAsksForAPowerCycle) {
    EXPECT_TRUE(model.InstallDriver(kPortUsb));
    EXPECT_TRUE(win.PrinterNames().empty());
    EXPECT_FALSE(win.journal().Contains("AddPrinterA"));
    EXPECT_TRUE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_EQ(status.Steps(), 7);
    ASSERT_EQ(win.Messages().size(), 1u);
    EXPECT_EQ(win.Messages()[0].text,
              "Installation is completed.\nPlease turn-off printer and turn-on printer.");
    EXPECT_EQ(win.Messages()[0].type, 0x40u);
    EXPECT_EQ(win.Messages()[0].caption, "Vantreel R-3 installer");
}

TEST_F(InstallDriverTest, ComponentFailuresAreReportedAndTheRestStillInstalled) {
    win.FailCall("AddMonitorA", 3006);
    // A print processor left from an earlier installation makes its addition fail.
    win.AddPrintProcessor("Windows x64", "Vantreel PRINT PROCESSOR R-3", "PROR3.DLL");
    EXPECT_TRUE(model.InstallDriver(kPortLpt1));
    ASSERT_GE(win.Messages().size(), 3u);
    EXPECT_EQ(win.Messages()[0].text,
              "AddMonitor Error Code: 3006\n\nThe specified print monitor has already been "
              "installed.\r\n");
    EXPECT_EQ(win.Messages()[0].type, 0x30u);
    EXPECT_EQ(win.Messages()[0].owner, winsys::kNullHandle);
    EXPECT_EQ(win.Messages()[1].text,
              "AddProcess Error Code: 3005\n\nThe specified print processor has already been "
              "installed.\r\n");
    EXPECT_TRUE(win.HasDriver("Windows x64", "Vantreel R-3"));
    ASSERT_TRUE(win.HasPrinter("Vantreel R-3"));
    EXPECT_EQ(win.FindPrinter("Vantreel R-3")->portName, "LPT1:");
    EXPECT_TRUE(win.KeyExists(testing::kUninstallKey64));
}

TEST_F(InstallDriverTest, AddPrinterFailureEndsTheProcessBeforeAnythingIsRegistered) {
    win.FailCall("AddPrinterA", 1796);
    EXPECT_FALSE(model.InstallDriver(kPortCom1));
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
    ASSERT_EQ(win.Messages().size(), 1u);
    EXPECT_EQ(win.Messages()[0].text,
              "AddPrinter Error Code: 1796\n\nThe specified port is unknown.\r\n");
    for (const char* call : {"SetupCopyOEMInfA", "WriteProfileStringA", "RegCreateKeyExA",
                             "CreateDirectoryA", "Completed!"})
        EXPECT_FALSE(win.journal().Contains(call)) << call;
    EXPECT_FALSE(win.KeyExists(testing::kUninstallKey64));
    EXPECT_FALSE(win.DirectoryExists("C:\\Windows\\R-3"));
}

TEST_F(InstallDriverTest, DriverEnumerationFailureEndsTheProcessAtOnce) {
    win.FailCall("EnumPrinterDriversA", 1722);
    EXPECT_FALSE(model.InstallDriver(kPortCom1));
    EXPECT_EQ(win.Messages().at(0).text,
              "EnumPrinterDrivers Error Code: 1722\n\nThe RPC server is unavailable.\r\n");
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
    EXPECT_EQ(status.Steps(), 1);
}

TEST_F(InstallDriverTest, AnInfAlreadyInTheInfFolderIsRecordedByItsName) {
    win.AddInf("oem4.inf", testing::kDriverInf);  // the same INF is already in the store
    EXPECT_TRUE(model.InstallDriver(kPortCom1));
    EXPECT_TRUE(win.journal().Contains(
        "SetupCopyOEMInfA(\"C:\\Setup\\Driver\\R3.INF\", NULL, 1, 0x8, 260) -> FALSE, error 80"));
    EXPECT_EQ(model.infFile, "C:\\Windows\\INF\\oem4.inf");
    EXPECT_EQ(win.StringValue(testing::kUninstallKey64, "InfFile"), model.infFile);
}

TEST_F(InstallDriverTest, AFolderThatCannotBeFoundStopsItsStepWithAMessage) {
    win.FailCall("GetWindowsDirectoryA", winsys::ERROR_NOT_ENOUGH_MEMORY);
    win.FailCall("GetPrintProcessorDirectoryA", winsys::RPC_S_SERVER_UNAVAILABLE, {}, 1);
    EXPECT_TRUE(model.InstallDriver(kPortUsb));
    // Nothing lands at the root of the drive.
    EXPECT_EQ(win.ListDirectory("C:\\"), (std::vector<std::string>{"Setup", "Windows"}));
    std::vector<std::string> texts;
    for (const auto& m : win.Messages()) texts.push_back(m.text.substr(0, m.text.find('\n')));
    // The monitor and the print processor, not copied, then cannot be added either.
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "GetWindowsDirectory Error Code: 8",
                         "GetPrintProcessorDirectory Error Code: 1722",
                         "AddMonitor Error Code: 126", "AddProcess Error Code: 2",
                         "GetWindowsDirectory Error Code: 8", "Installation is completed."}));
    // Without the tools folder there is nothing for an uninstall entry to name.
    EXPECT_FALSE(win.KeyExists(testing::kUninstallKey64));
    EXPECT_TRUE(win.HasDriver("Windows x64", "Vantreel R-3"));
}

TEST_F(InstallDriverTest, AnEnumerationKeyThatStaysKeepsItsPermissions) {
    testing::AddProtectedEnumKey(win, testing::kUsbPrintKey);
    testing::AddProtectedEnumKey(win, testing::kUsbPrintInstance);
    EXPECT_TRUE(model.InstallDriver(kPortUsb));
    EXPECT_EQ(win.KeyDacl(testing::kUsbPrintKey), testing::kEnumKeyDacl);
    EXPECT_EQ(win.Messages().size(), 1u);

    // Should its permissions not go back, the user is told which key and what to do.
    FakeWindows other;
    testing::AddInstallerMedia(other);
    testing::AddProtectedEnumKey(other, testing::kUsbPrintKey);
    testing::AddProtectedEnumKey(other, testing::kUsbPrintInstance);
    other.FailCall("SetSecurityInfo", winsys::ERROR_ACCESS_DENIED, {}, 1, 1);
    JournalStatusDisplay otherStatus{other.journal(), kProgressStep};
    DriverModel otherModel{other, otherStatus};
    otherModel.ComposeNames("3", 'E', true);
    otherModel.InstallDriver(kPortUsb);
    ASSERT_EQ(other.Messages().size(), 2u);
    EXPECT_EQ(
        other.Messages()[0].text,
        "The permissions of registry key "
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USBPRINT\\Vantreel_R-3 could "
        "not be put back, so everyone may change it: Access is denied.\n\nOpen that key in the "
        "Registry Editor (regedit) and remove Everyone from its permissions.");
    EXPECT_EQ(other.Messages()[0].type, 0x30u);
}

TEST_F(InstallDriverTest, AnsweringYesRestartsWindows) {
    win.QueueMessageBoxAnswer(winsys::IDYES);
    EXPECT_TRUE(model.InstallDriver(kPortCom1));
    EXPECT_EQ(win.RestartFlags(), 0x12u);
    EXPECT_LT(win.journal().Find("ExitWindowsEx"), win.journal().Find("Sleep(2000)"));
}

}  // namespace
}  // namespace tessaly::installer
