#include "uninstaller.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_system_setup.h"

namespace tessaly::uninstaller {
namespace {

using testing::ExpectNoLeaks;
using winsys::fake::FakeWindows;
using winsys::fake::Journal;
using winsys::fake::JournalStatusDisplay;

constexpr Handle kDialog = 0x600;

// The uninstaller dialog as a recorder: a sorted check list and the button states.
class RecordingView : public UninstallerView {
  public:
    explicit RecordingView(Journal& journal) : journal_(journal), status_(journal, kProgressStep) {}

    void SetStatus(const std::string& text) override { status_.SetStatus(text); }
    void StepIt() override { status_.StepIt(); }
    void SetPos(int position) override { status_.SetPos(position); }
    void Refresh() override { status_.Refresh(); }
    void AddListItem(const std::string& name) override {
        journal_.Add("AddListItem(\"" + name + "\")");
        const auto at =
            std::upper_bound(lines.begin(), lines.end(), name,
                             [](const std::string& n, const Line& l) { return n < l.text; });
        lines.insert(at, Line{name, false});
    }
    int ListCount() const override { return static_cast<int>(lines.size()); }
    bool IsChecked(int index) const override {
        return lines.at(static_cast<std::size_t>(index)).checked;
    }
    std::string ListText(int index) const override {
        return lines.at(static_cast<std::size_t>(index)).text;
    }
    void EnableUninstall(bool enable) override {
        uninstallEnabled = enable;
        journal_.Add(std::string("EnableUninstall(") + (enable ? "TRUE" : "FALSE") + ")");
    }
    void EnableCancel(bool enable) override {
        cancelEnabled = enable;
        journal_.Add(std::string("EnableCancel(") + (enable ? "TRUE" : "FALSE") + ")");
    }
    void ShowWaitCursor() override { journal_.Add("WaitCursor()"); }
    void ShowArrowCursor() override { journal_.Add("ArrowCursor()"); }
    void ReadControls() override { journal_.Add("ReadControls()"); }
    void CloseOk() override {
        closed = true;
        journal_.Add("CloseOk()");
    }
    Handle Window() const override { return kDialog; }

    void Tick(const std::string& name) {
        for (Line& line : lines)
            if (line.text == name) line.checked = !line.checked;
    }
    int Position() const { return status_.Position(); }

    struct Line {
        std::string text;
        bool checked;
    };
    std::vector<Line> lines;
    bool uninstallEnabled = false;
    bool cancelEnabled = true;
    bool closed = false;

  private:
    Journal& journal_;
    JournalStatusDisplay status_;
};

constexpr char kRestartQuestion[] =
    "Restart the computer can take effect.\nPlease restart the computer.\n\n[Yes] I want to "
    "restart "
    "my computer now.\n[No] I will restart my computer later.";

class UninstallerTest : public ::testing::Test {
  protected:
    // The driver with two queues, as after a reinstall.
    void SeedTwoQueues() {
        testing::SeedInstalledDriver(win);
        win.AddPrinter(testing::Queue("Vantreel R-3(#1)"));
        win.CreateKey("HKLM\\SOFTWARE\\VANTREEL_POS_PRINTER\\Vantreel_R-3(#1)");
        win.AddPrinter(testing::Queue("Kitchen", "COM2:", "Some Driver"));
        win.journal().Clear();
    }

    FakeWindows win;
    RecordingView view{win.journal()};
    Uninstaller uninstaller{win, view};
};

TEST_F(UninstallerTest, OneOfTwoQueuesTickedDeletesOnlyThatQueueAndKeepsTheDriver) {
    SeedTwoQueues();
    uninstaller.PopulatePrinterList();
    EXPECT_EQ(uninstaller.PrintersFound(), 2);
    ASSERT_EQ(view.ListCount(), 2);
    EXPECT_EQ(view.ListText(0), "Vantreel R-3");
    EXPECT_FALSE(view.uninstallEnabled);

    view.Tick("Vantreel R-3(#1)");
    uninstaller.UpdateUninstallButton();
    EXPECT_TRUE(view.uninstallEnabled);
    uninstaller.RunUninstall();

    EXPECT_FALSE(win.HasPrinter("Vantreel R-3(#1)"));
    EXPECT_FALSE(win.KeyExists("HKLM\\SOFTWARE\\VANTREEL_POS_PRINTER\\Vantreel_R-3(#1)"));
    EXPECT_TRUE(win.HasPrinter("Vantreel R-3"));
    EXPECT_TRUE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_FALSE(win.journal().Contains("DeletePrinterDriverExA"));
    EXPECT_TRUE(win.Messages().empty());
    EXPECT_EQ(win.journal().Calls({"SetStatus"}),
              (std::vector<std::string>{"SetStatus(\"Delete printers...\")",
                                        "SetStatus(\"Uninstall completed!\")"}));
    EXPECT_EQ(win.journal().Lines().back(), "CloseOk()");
    EXPECT_FALSE(win.ExitCode().has_value());
    ExpectNoLeaks(win);
}

TEST_F(UninstallerTest, AllQueuesTickedRemovesTheDriverAndAsksToRestart) {
    SeedTwoQueues();
    uninstaller.PopulatePrinterList();
    view.Tick("Vantreel R-3");
    view.Tick("Vantreel R-3(#1)");
    uninstaller.RunUninstall();
    testing::PrintJournal(win, "Uninstaller: both queues ticked");

    EXPECT_EQ(win.PrinterNames(), std::vector<std::string>{"Kitchen"});
    EXPECT_FALSE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_FALSE(win.KeyExists(testing::kUninstallKey64));
    EXPECT_EQ(win.ProfileString("windows", "TransmissionRetryTimeout"), "90");
    ASSERT_EQ(win.Messages().size(), 1u);
    EXPECT_EQ(win.Messages()[0].text, kRestartQuestion);
    EXPECT_EQ(win.Messages()[0].caption, "Vantreel R-3 uninstaller");
    EXPECT_EQ(win.Messages()[0].owner, kDialog);
    // Answered No: the bar is set to 100 and the dialog closes.
    EXPECT_FALSE(win.RestartFlags().has_value());
    EXPECT_EQ(view.Position(), 100);
    EXPECT_TRUE(view.closed);
    const auto& j = win.journal();
    EXPECT_LT(j.Find("EnableCancel(FALSE)"), j.Find("WaitCursor()"));
    EXPECT_LT(j.Find("SetStatus(\"Delete printer driver...\")"), j.Find("DeletePrinterDriverExA"));
    EXPECT_LT(j.Find("ArrowCursor()"), j.Find("MessageBoxA"));
    ExpectNoLeaks(win);
}

TEST_F(UninstallerTest, AnsweringYesRestartsAndEndsTheProcess) {
    SeedTwoQueues();
    uninstaller.PopulatePrinterList();
    view.Tick("Vantreel R-3");
    view.Tick("Vantreel R-3(#1)");
    win.QueueMessageBoxAnswer(winsys::IDYES);
    uninstaller.RunUninstall();
    EXPECT_EQ(win.RestartFlags(), 0x12u);
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
    EXPECT_FALSE(view.closed);
}

TEST_F(UninstallerTest, DriverWithoutQueuesIsRemovedAtOnceWithoutAChoice) {
    testing::SeedInstalledDriver(win);
    Handle queue = winsys::kNullHandle;
    const winsys::PrinterDefaults all{"RAW", winsys::PRINTER_ALL_ACCESS};
    ASSERT_TRUE(win.OpenPrinterA("Vantreel R-3", &queue, &all));
    win.DeletePrinter(queue);
    win.ClosePrinter(queue);
    win.journal().Clear();

    uninstaller.PopulatePrinterList();
    EXPECT_EQ(uninstaller.PrintersFound(), 0);
    EXPECT_EQ(view.ListCount(), 0);
    EXPECT_FALSE(view.cancelEnabled);
    EXPECT_FALSE(win.journal().Contains("AddListItem"));
    EXPECT_FALSE(win.journal().Contains("SetStatus(\"Delete printers...\")"));
    EXPECT_TRUE(win.journal().Contains("EnumPrinterDriversA(NULL, \"Windows x64\", 3)"));
    EXPECT_FALSE(win.HasDriver("Windows x64", "Vantreel R-3"));
    EXPECT_FALSE(win.KeyExists(testing::kUninstallKey64));
    EXPECT_EQ(win.Messages().at(0).text, kRestartQuestion);
    EXPECT_TRUE(view.closed);
    ExpectNoLeaks(win);
}

TEST_F(UninstallerTest, NothingInstalledOnlyReportsAndDeletesAStaleEntry) {
    win.SetStringValue(testing::kUninstallKey64, "DisplayName",
                       "Vantreel R-3 Windows Driver V1.0.0E");
    win.journal().Clear();
    uninstaller.PopulatePrinterList();
    ASSERT_EQ(win.Messages().size(), 1u);
    EXPECT_EQ(win.Messages()[0].text, "R-3 Driver doesn't exist.\nUninstall aleady completed.");
    EXPECT_EQ(win.Messages()[0].type, 0x40u);
    EXPECT_FALSE(win.KeyExists(testing::kUninstallKey64));
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
    for (const char* call : {"SetStatus", "DeletePrinter", "AddListItem", "EnableCancel"})
        EXPECT_FALSE(win.journal().Contains(call)) << call;
    ExpectNoLeaks(win);

    // Without a stale entry there is nothing to delete.
    FakeWindows clean;
    RecordingView cleanView{clean.journal()};
    Uninstaller{clean, cleanView}.PopulatePrinterList();
    EXPECT_FALSE(clean.journal().Contains("RegDeleteKeyExA"));
    EXPECT_EQ(clean.ExitCode(), 0u);
}

TEST_F(UninstallerTest, WhatCouldNotBeDeletedIsSaidAndTheRunIsNotCalledComplete) {
    SeedTwoQueues();
    win.FailCall("DeletePrinter", winsys::ERROR_ACCESS_DENIED);
    uninstaller.PopulatePrinterList();
    view.Tick("Vantreel R-3(#1)");
    uninstaller.RunUninstall();
    ASSERT_EQ(win.Messages().size(), 1u);
    EXPECT_EQ(win.Messages()[0].text,
              "Queue Vantreel R-3(#1) could not be deleted: Access is denied.\n\nRestart the "
              "computer, then run the uninstaller again.");
    EXPECT_EQ(win.Messages()[0].type, 0x30u);
    EXPECT_TRUE(win.HasPrinter("Vantreel R-3(#1)"));
    EXPECT_TRUE(win.journal().Contains("SetStatus(\"Uninstall incomplete!\")"));
    EXPECT_FALSE(win.journal().Contains("Uninstall completed!"));
    EXPECT_TRUE(view.closed);
}

TEST_F(UninstallerTest, ADriverRemovedWithAProblemLeftSaysBoth) {
    SeedTwoQueues();
    win.FailCall("RegDeleteKeyExA", winsys::ERROR_ACCESS_DENIED,
                 "VANTREEL_POS_PRINTER\\Vantreel_R-3(#1)\"");
    uninstaller.PopulatePrinterList();
    view.Tick("Vantreel R-3");
    view.Tick("Vantreel R-3(#1)");
    uninstaller.RunUninstall();
    EXPECT_FALSE(win.HasDriver("Windows x64", "Vantreel R-3"));
    ASSERT_EQ(win.Messages().size(), 2u);
    EXPECT_EQ(
        win.Messages()[0].text,
        "The driver was removed, but the settings of queue Vantreel R-3(#1) could not be "
        "deleted: Access is denied.\n\nRestart the computer, then run the uninstaller again.");
    EXPECT_EQ(win.Messages()[1].text, kRestartQuestion);
    EXPECT_TRUE(win.journal().Contains("SetStatus(\"Uninstall incomplete!\")"));
}

TEST_F(UninstallerTest, UntickingTheLastTickedLineDisablesUninstall) {
    SeedTwoQueues();
    uninstaller.PopulatePrinterList();
    view.Tick("Vantreel R-3");
    view.Tick("Vantreel R-3(#1)");
    uninstaller.UpdateUninstallButton();
    view.Tick("Vantreel R-3");
    uninstaller.UpdateUninstallButton();
    EXPECT_TRUE(view.uninstallEnabled);
    view.Tick("Vantreel R-3(#1)");
    uninstaller.UpdateUninstallButton();
    EXPECT_FALSE(view.uninstallEnabled);
}

TEST_F(UninstallerTest, PrinterEnumerationFailureIsReportedAndEndsTheProgram) {
    win.FailCall("EnumPrintersA", 1722);
    uninstaller.PopulatePrinterList();
    ASSERT_EQ(win.Messages().size(), 1u);
    EXPECT_EQ(win.Messages()[0].text,
              "EnumPrinters Error Code: 1722\n\nThe RPC server is unavailable.\r\n");
    EXPECT_EQ(win.Messages()[0].type, 0x30u);
    EXPECT_EQ(win.journal().Lines().back(), "ExitProcess(0)");
}

}  // namespace
}  // namespace tessaly::uninstaller
