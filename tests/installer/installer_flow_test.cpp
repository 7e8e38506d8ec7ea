#include <gtest/gtest.h>

#include "fake_system_setup.h"
#include "installer.h"

namespace tessaly::installer {
namespace {

using testing::ExpectNoLeaks;
using winsys::OsVersionInfo;
using winsys::fake::FakeConfig;
using winsys::fake::FakeWindows;
using winsys::fake::JournalStatusDisplay;

constexpr Handle kDialog = 0x500;

class ScriptedPortChoice : public PortChoice {
  public:
    explicit ScriptedPortChoice(winsys::fake::Journal& journal) : journal_(journal) {}
    std::optional<int> Choose() override {
        journal_.Add("PortSelectDialog()");
        return answer;
    }
    std::optional<int> answer;

  private:
    winsys::fake::Journal& journal_;
};

class InstallerFlowTest : public ::testing::Test {
  protected:
    explicit InstallerFlowTest(FakeConfig config = {}) : win(std::move(config)) {
        testing::AddInstallerMedia(win);
    }

    void Run() { RunInstaller(win, status, ports, model, kDialog); }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> out;
        for (const auto& m : win.Messages()) out.push_back(m.text);
        return out;
    }

    FakeWindows win;
    JournalStatusDisplay status{win.journal(), kProgressStep};
    ScriptedPortChoice ports{win.journal()};
    DriverModel model{win, status};
};

TEST_F(InstallerFlowTest, CleanRunInstallsOnTheChosenPortAndEndsOnce) {
    ports.answer = 4;
    Run();
    EXPECT_EQ(win.FindPrinter("Vantreel R-3")->portName, "LPT1:");
    EXPECT_EQ(win.journal().Count("ExitProcess"), 1);
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
    EXPECT_EQ(win.ExitCode(), 0u);
    ExpectNoLeaks(win);
}

TEST(InstallerFlow, WithoutWow64OnlyTheMessageIsShown) {
    for (FakeConfig config :
         {FakeConfig{.wow64Process = false}, FakeConfig{.kernelHasIsWow64Process = false}}) {
        FakeWindows win(config);
        JournalStatusDisplay status{win.journal(), kProgressStep};
        ScriptedPortChoice ports{win.journal()};
        DriverModel model{win, status};
        RunInstaller(win, status, ports, model, kDialog);
        ASSERT_EQ(win.Messages().size(), 1u);
        EXPECT_EQ(win.Messages()[0].text, "Not running on WOW64!!");
        EXPECT_EQ(win.Messages()[0].owner, kDialog);
        EXPECT_EQ(win.Messages()[0].type, 0x40u);
        EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
        for (const char* call : {"Enum", "PortSelectDialog", "SetStatus", "Reg", "GetVersionExA"})
            EXPECT_FALSE(win.journal().Contains(call)) << call;
    }
}

TEST(InstallerFlow, OsCodesFollowPlatformAndVersion) {
    struct Case {
        DWORD platform, major, minor;
        int code;
    };
    for (const Case& c :
         {Case{1, 4, 0, 2000}, Case{1, 4, 10, 2001}, Case{1, 4, 90, 2002}, Case{1, 5, 0, 2009},
          Case{2, 3, 51, 2003}, Case{2, 4, 0, 2003}, Case{2, 5, 0, 2004}, Case{2, 5, 1, 2005},
          Case{2, 5, 2, 2006}, Case{2, 6, 0, 2007}, Case{2, 6, 1, 2009}, Case{2, 10, 0, 2009}}) {
        FakeWindows win(
            FakeConfig{.version = OsVersionInfo{148, c.major, c.minor, 0, c.platform, ""}});
        EXPECT_EQ(GetOsCode(win), c.code) << c.platform << " " << c.major << "." << c.minor;
    }
    FakeWindows flaky;
    flaky.FailCall("GetVersionExA", 122, {}, 1);
    EXPECT_EQ(GetOsCode(flaky), 2009);
    EXPECT_EQ(flaky.journal().Count("GetVersionExA({size 148})"), 2);
}

class Windows2000Test : public InstallerFlowTest {
  protected:
    Windows2000Test()
        : InstallerFlowTest(FakeConfig{.version = OsVersionInfo{148, 5, 0, 2195, 2, ""}}) {}
};

TEST_F(Windows2000Test, UnsupportedSystemIsRefused) {
    Run();
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{"This driver is not supported by this OS!!"});
    EXPECT_FALSE(win.journal().Contains("Enum"));
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
}

class WindowsXpTest : public InstallerFlowTest {
  protected:
    WindowsXpTest()
        : InstallerFlowTest(FakeConfig{.version = OsVersionInfo{148, 5, 1, 2600, 2, ""}}) {}
};

TEST_F(WindowsXpTest, OldestSupportedSystemGoesOnToThePortChoice) {
    ports.answer = 6;
    Run();
    EXPECT_TRUE(win.journal().Contains("PortSelectDialog()"));
    EXPECT_TRUE(win.HasDriver("Windows x64", "Vantreel R-3"));
}

TEST(CheckInstalledVersion, ComparesTheFirstQueueOfTheDriverFieldByField) {
    struct Case {
        DWORD major, minor, build, extra;
        bool haveExtra;
        VersionCheckResult expected;
    };
    for (const Case& c : {Case{1, 0, 0, 0, true, VersionCheckResult::Same},
                          Case{1, 0, 0, 1, true, VersionCheckResult::Newer},
                          Case{0, 9, 9, 9, true, VersionCheckResult::StaleOrOlder},
                          Case{2, 0, 0, 0, true, VersionCheckResult::Newer},
                          Case{1, 0, 0, 0, false, VersionCheckResult::StaleOrOlder}}) {
        FakeWindows win;
        win.AddPrinter(testing::Queue("Other", "COM2:", "Some Driver"));
        win.AddPrinter(testing::Queue("Vantreel R-3"));
        win.SetPrinterDataDword("Vantreel R-3", "MajorVersion", c.major);
        win.SetPrinterDataDword("Vantreel R-3", "MinorVersion", c.minor);
        win.SetPrinterDataDword("Vantreel R-3", "BuildVersion", c.build);
        if (c.haveExtra) win.SetPrinterDataDword("Vantreel R-3", "ExtraVersion", c.extra);
        // A later queue of the driver does not matter.
        win.AddPrinter(testing::Queue("Vantreel R-3(#1)"));
        EXPECT_EQ(CheckInstalledVersion(win, "Vantreel R-3", "Vantreel PRINT PROCESSOR R-3", {}),
                  c.expected)
            << c.major << "." << c.minor << "." << c.build << "." << c.extra;
        EXPECT_TRUE(win.journal().Contains("OpenPrinterA(\"Vantreel R-3\", {\"RAW\", 0xF000C})"));
        EXPECT_FALSE(win.journal().Contains("Vantreel R-3(#1)\", {"));
        ExpectNoLeaks(win);
    }
}

TEST(CheckInstalledVersion, LeftoversWithoutAQueueCountAsADifferentVersion) {
    FakeWindows clean;
    EXPECT_EQ(CheckInstalledVersion(clean, "Vantreel R-3", "Vantreel PRINT PROCESSOR R-3", {}),
              VersionCheckResult::NotInstalled);

    FakeWindows processorOnly;
    processorOnly.AddPrintProcessor("Windows x64", "Vantreel PRINT PROCESSOR R-3", "PROR3.dll");
    EXPECT_EQ(
        CheckInstalledVersion(processorOnly, "Vantreel R-3", "Vantreel PRINT PROCESSOR R-3", {}),
        VersionCheckResult::StaleOrOlder);

    FakeWindows driverOnly;
    winsys::DriverInfo3 driver;
    driver.name = "Vantreel R-3";
    driver.environment = "Windows x64";
    driverOnly.AddDriver(driver);
    EXPECT_EQ(CheckInstalledVersion(driverOnly, "Vantreel R-3", "Vantreel PRINT PROCESSOR R-3", {}),
              VersionCheckResult::StaleOrOlder);
}

TEST_F(InstallerFlowTest, LeftoverPrintProcessorIsRemovedWithARestartAndNoPortChoice) {
    win.AddFile(win.PrintProcessorDir() + "\\PROR3.dll");
    win.AddPrintProcessor("Windows x64", "Vantreel PRINT PROCESSOR R-3", "PROR3.dll");
    win.AddPrinter(testing::Queue("Kitchen", "COM2:", "Some Driver"));
    Run();
    testing::PrintJournal(win, "RunInstaller with a leftover print processor");

    EXPECT_EQ(
        MessageTexts(),
        (std::vector<std::string>{
            "There is different version driver in this system.\r\n\r\nThe installed driver will be "
            "removed.",
            "Installer  has successfully removed different version.\nNow it's going to restart "
            "your computer to take effect. Please wait.\n\nAfter restarting, you may reinstall "
            "our driver again."}));
    EXPECT_EQ(
        win.journal().Calls({"SetStatus"}),
        (std::vector<std::string>{
            "SetStatus(\"Delete printers...\")", "SetStatus(\"Preparing to remove...\")",
            "SetStatus(\"Remove printer driver...\")", "SetStatus(\"Uninstall completed!\")"}));
    EXPECT_FALSE(win.HasPrintProcessor("Windows x64", "Vantreel PRINT PROCESSOR R-3"));
    EXPECT_TRUE(win.HasPrinter("Kitchen"));
    EXPECT_FALSE(win.journal().Contains("PortSelectDialog"));
    EXPECT_EQ(win.RestartFlags(), 0x12u);
    EXPECT_LT(win.journal().Find("ExitWindowsEx"), win.journal().Find("ExitProcess(0)"));
    EXPECT_EQ(win.journal().Count("ExitProcess"), 1);
    ExpectNoLeaks(win);
}

TEST_F(InstallerFlowTest, NewerInstalledCopyIsRemovedWithItsQueues) {
    testing::SeedInstalledDriver(win);
    win.SetPrinterDataDword("Vantreel R-3", "ExtraVersion", 1);
    Run();
    EXPECT_FALSE(win.HasPrinter("Vantreel R-3"));
    EXPECT_FALSE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_FALSE(win.KeyExists("HKLM\\SOFTWARE\\VANTREEL_POS_PRINTER\\Vantreel_R-3"));
    EXPECT_EQ(win.RestartFlags(), 0x12u);
}

TEST_F(InstallerFlowTest, ARemovalThatFallsShortSaysWhatIsLeftAndStillRestarts) {
    testing::SeedInstalledDriver(win);
    win.SetPrinterDataDword("Vantreel R-3", "ExtraVersion", 1);
    win.FailCall("DeletePrinter", winsys::ERROR_ACCESS_DENIED);
    Run();
    ASSERT_EQ(win.Messages().size(), 2u);
    EXPECT_EQ(win.Messages()[1].text,
              "Installer could not remove the different version completely.\n\nThe driver was "
              "removed, but queue Vantreel R-3 could not be deleted: Access is denied.\n\nNow it's "
              "going to restart your computer. Please wait.\n\nAfter restarting, run the installer "
              "again.");
    EXPECT_EQ(win.Messages()[1].type, 0x30u);
    EXPECT_TRUE(win.journal().Contains("SetStatus(\"Uninstall incomplete!\")"));
    EXPECT_FALSE(win.journal().Contains("SetStatus(\"Uninstall completed!\")"));
    EXPECT_EQ(win.RestartFlags(), 0x12u);
}

TEST_F(InstallerFlowTest, PrinterEnumerationFailureDuringRemovalIsReportedAndEndsTheRun) {
    win.FailCall("EnumPrintersA", 1722);
    RemoveDifferentVersion(win, status, kDialog);
    ASSERT_EQ(win.Messages().size(), 2u);
    EXPECT_EQ(win.Messages()[1].text,
              "EnumPrinters Error Code: 1722\n\nThe RPC server is unavailable.\r\n");
    EXPECT_EQ(win.Messages()[1].owner, kDialog);
    EXPECT_EQ(win.Messages()[1].type, 0x30u);
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
    EXPECT_FALSE(win.journal().Contains("DeletePrinterDriverExA"));
}

TEST_F(InstallerFlowTest, SameVersionGoesOnToThePortChoiceAndCancelInstallsNothing) {
    testing::SeedInstalledDriver(win);
    win.journal().Clear();
    Run();  // no answer: the dialog was closed without "Next"
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Install Canceled."});
    EXPECT_TRUE(win.journal().Contains("PortSelectDialog()"));
    for (const char* call : {"AddPrinterA", "CopyFileA", "Delete", "SetStatus"})
        EXPECT_FALSE(win.journal().Contains(call)) << call;
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");

    win.journal().Clear();
    ports.answer = 7;  // outside the radio group
    Run();
    EXPECT_FALSE(win.journal().Contains("SetStatus"));
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
}

}  // namespace
}  // namespace tessaly::installer
