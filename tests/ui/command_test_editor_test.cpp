#include "command_test_editor.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fifo_watchdog.h"
#include "hex_text.h"
#include "r3_engine.h"
#include "regular_file.h"
#include "simulated_port.h"
#include "ui_fakes.h"

namespace tessaly::ui {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::RecordingNotifier;
using testing::ScriptedHost;
using Canned = CommandTestEditor::Canned;
namespace fs = std::filesystem;

std::vector<std::uint8_t> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct EditorTest : ::testing::Test {
    sim::R3Engine engine;
    VirtualClock clock;
    PrinterPort port{sim::MakeSimulatedPortFactory(engine, clock)};
    RecordingNotifier notifier;
    InlineRunner runner;
    ScriptedHost host;
    CommandTestEditor editor{port, notifier, runner, host};
    int shown = 0;
    fs::path dir;

    void SetUp() override {
        PortSettings settings;
        settings.portName = "COM1";
        ASSERT_TRUE(port.Setup(settings));
        ASSERT_TRUE(port.Open());
        editor.onTextReplaced = [this] { ++shown; };
        dir =
            fs::temp_directory_path() /
            ("tessaly-editor-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<std::uint8_t> Sent() const { return engine.receivedLog(); }
    std::string WithCodepage(int index, void (CommandTestEditor::*handler)()) {
        host.codepage = [index](SelectCodepageDialog& d) {
            d.OnSelectionChanged(index);
            d.OnOk();
            return true;
        };
        editor.OnClear();
        (editor.*handler)();
        return editor.commandText();
    }
};

TEST_F(EditorTest, CannedCommandsAreAppendedToTheEndAndShown) {
    editor.OnTextChanged("1b 40 ");
    editor.OnCanned(Canned::FontA);
    editor.OnCanned(Canned::FontA);
    EXPECT_EQ(editor.commandText(), "1b 40 1b 21 00 1b 21 00 ");
    EXPECT_EQ(shown, 2);

    const std::vector<std::pair<Canned, std::string>> table{
        {Canned::FontB, "1b 21 01 "},           {Canned::LeftAlignment, "1b 61 00 "},
        {Canned::CenterAlignment, "1b 61 01 "}, {Canned::RightAlignment, "1b 61 02 "},
        {Canned::PaperCut, "0a 1d 56 42 00 "},  {Canned::Feed, "0a "},
        {Canned::Drawer1, "1b 70 00 19 ff "},   {Canned::Drawer2, "1b 70 01 19 ff "}};
    for (const auto& [command, text] : table) {
        editor.OnClear();
        editor.OnCanned(command);
        EXPECT_EQ(editor.commandText(), text);
    }
}

TEST_F(EditorTest, CheckBoxesAppendTheirNewState) {
    editor.OnBoldClicked(true);
    editor.OnBoldClicked(false);
    editor.OnUnderlineClicked(true);
    editor.OnUnderlineClicked(false);
    EXPECT_EQ(editor.commandText(), "1b 45 01 1b 45 00 1b 2d 01 1b 2d 00 ");
    EXPECT_FALSE(editor.boldChecked());
}

TEST_F(EditorTest, LineSpacingFormatsTheValueOrAsksForTheDefault) {
    for (const auto& [value, text] : std::vector<std::pair<int, std::string>>{
             {15, "1b 33 0f "}, {16, "1b 33 10 "}, {255, "1b 33 ff "}, {200, "1b 33 c8 "}}) {
        host.range = [value](SelectRangeDialog& d) {
            d.Step(value);
            d.OnOk();
            return true;
        };
        editor.OnClear();
        editor.OnLineSpacing();
        EXPECT_EQ(editor.commandText(), text);
    }
    host.range = [](SelectRangeDialog& d) {
        d.Step(40);
        d.OnDefaultClicked(true);
        d.OnOk();
        return true;
    };
    editor.OnClear();
    editor.OnLineSpacing();
    EXPECT_EQ(editor.commandText(), "1b 32 ");

    // Cancelled: nothing appended, but the box is shown again.
    host.range = [](SelectRangeDialog&) { return false; };
    shown = 0;
    editor.OnLineSpacing();
    EXPECT_EQ(editor.commandText(), "1b 32 ");
    EXPECT_EQ(shown, 1);
}

TEST_F(EditorTest, SelectCodepageAppendsEscTWithTheTableValue) {
    EXPECT_EQ(WithCodepage(6, &CommandTestEditor::OnSelectCodepage), "1b 74 10 ");
    EXPECT_EQ(WithCodepage(10, &CommandTestEditor::OnSelectCodepage), "1b 74 15 ");
    EXPECT_EQ(WithCodepage(29, &CommandTestEditor::OnSelectCodepage), "1b 74 28 ");
    host.codepage = [](SelectCodepageDialog&) { return false; };
    editor.OnClear();
    editor.OnSelectCodepage();
    EXPECT_EQ(editor.commandText(), "");
}

TEST_F(EditorTest, SetCodepageStoresTheIndexInMemorySwitchTwo) {
    const std::string entry6 = WithCodepage(6, &CommandTestEditor::OnSetCodepage);
    EXPECT_EQ(entry6,
              "1d 28 45 03 00 01 49 4e 1d 28 45 0a 00 03 02 30 30 31 31 30 30 30 30 "
              "1d 28 45 04 00 02 4f 55 54 ");
    EXPECT_EQ(ParseHexText(entry6).size(), 32u);

    const std::string entry29 = WithCodepage(29, &CommandTestEditor::OnSetCodepage);
    EXPECT_EQ(entry29.substr(45), "31 31 31 30 31 30 30 30 1d 28 45 04 00 02 4f 55 54 ");

    // Written to the printer, the sequence sets switch 2 to code page 6 with
    // bits 2 and 1 clear, and the printer restarts.
    engine.setMemorySwitch(2, 0x06);
    editor.OnClear();
    editor.OnTextChanged(entry6);
    editor.OnWriteCommand();
    EXPECT_EQ(engine.memorySwitch(2), 0x30);
    EXPECT_EQ(engine.restartCount(), 1);
}

TEST_F(EditorTest, PrintNvImageTakesTheAddressTextAsItIs) {
    host.address = [](SelectAddressDialog& d) {
        d.OnOk();
        return true;
    };
    editor.OnPrintNvImage();
    EXPECT_EQ(editor.commandText(), "1c 70 01 00 ");
    host.address = [](SelectAddressDialog& d) {
        d.OnTextChanged("7");
        d.OnOk();
        return true;
    };
    editor.OnPrintNvImage();
    EXPECT_EQ(editor.commandText(), "1c 70 01 00 1c 70 7 00 ");
}

TEST_F(EditorTest, WriteCommandSendsTheParsedBytes) {
    editor.OnTextChanged("1b 40\r\n0a");
    editor.OnWriteCommand();
    EXPECT_THAT(Sent(), ElementsAre(0x1B, 0x40, 0x0A));

    editor.OnTextChanged("1D61FF0A123");
    editor.OnWriteCommand();
    EXPECT_THAT(Sent(), ElementsAre(0x1B, 0x40, 0x0A, 0x1D, 0x61, 0xFF, 0x0A, 0x12, 0x03));
    EXPECT_TRUE(notifier.shown.empty());
}

TEST_F(EditorTest, WriteCommandSendsNothingForEmptyOrSeparatorOnlyText) {
    editor.OnWriteCommand();
    editor.OnTextChanged(" \r\n\t ");
    editor.OnWriteCommand();
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(notifier.shown.empty());
}

TEST_F(EditorTest, TextThatIsNotHexadecimalIsRefusedWithAMessage) {
    editor.OnTextChanged("1b 4g 0a");
    editor.OnWriteCommand();
    EXPECT_TRUE(Sent().empty());
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].text, FindHexTextError("1b 4g 0a")->Describe());
    EXPECT_EQ(notifier.shown[0].caption, "Warning");
    EXPECT_EQ(notifier.shown[0].icon, MessageIcon::Exclamation);

    host.savePath = (dir / "bad.bin").string();
    editor.OnSave();
    EXPECT_EQ(notifier.shown.size(), 2u);
    EXPECT_FALSE(fs::exists(dir / "bad.bin"));
}

TEST_F(EditorTest, PrintTestStringPrintsTwoLinesAndFeeds) {
    editor.OnTextChanged("1b");
    editor.OnPrintTestString();
    std::vector<std::uint8_t> expected(CommandTestEditor::kTestString.begin(),
                                       CommandTestEditor::kTestString.end());
    ASSERT_EQ(expected.size(), 52u);
    expected.insert(expected.end(), {0x1B, 0x4A, 0xFF});
    EXPECT_THAT(Sent(), ElementsAreArray(expected));
    EXPECT_EQ(editor.commandText(), "1b");
    const auto paper = engine.paper();
    ASSERT_GE(paper.size(), 2u);
    EXPECT_EQ(paper[0], "Command Test String Line1");
    EXPECT_EQ(paper[1], "Command Test String Line2");
}

TEST_F(EditorTest, SaveAndLoadRoundTripInCanonicalForm) {
    host.savePath = host.loadPath = (dir / "command.bin").string();
    editor.OnTextChanged("1B40\n0a");
    editor.OnSave();
    EXPECT_THAT(FileBytes(dir / "command.bin"), ElementsAre(0x1B, 0x40, 0x0A));
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.requests[0].fileName, "command.bin");
    EXPECT_FALSE(host.requests[0].promptOverwrite);

    editor.OnLoad();
    EXPECT_EQ(editor.commandText(), "1b 40 0a ");
    EXPECT_EQ(host.requests[1].fileName, "*.bin");
    EXPECT_TRUE(notifier.shown.empty());

    // Only separators pass the emptiness test and give an empty file, which
    // loads as an empty box.
    editor.OnTextChanged("   ");
    editor.OnSave();
    EXPECT_EQ(fs::file_size(dir / "command.bin"), 0u);
    editor.OnLoad();
    EXPECT_EQ(editor.commandText(), "");
}

TEST_F(EditorTest, SaveAndLoadExplainWhatStoppedThem) {
    editor.OnSave();
    EXPECT_THAT(notifier.shown, ElementsAre(CommandTestEditor::kNoDataToWrite));
    EXPECT_TRUE(host.requests.empty());

    editor.OnTextChanged("1b 40 ");
    editor.OnSave();  // no path: the dialog was cancelled
    EXPECT_EQ(notifier.shown.back(), CommandTestEditor::kNoSaveFile);

    editor.OnLoad();
    EXPECT_EQ(notifier.shown.back(), CommandTestEditor::kNoLoadFile);
    EXPECT_EQ(notifier.shown.back().caption, "warning");
    EXPECT_EQ(editor.commandText(), "");

    // Files that cannot be written or read are reported; nothing is loaded.
    editor.OnTextChanged("1b 40 ");
    host.savePath = (dir / "missing" / "command.bin").string();
    editor.OnSave();
    EXPECT_EQ(notifier.shown.back().caption, "Warning");
    EXPECT_THAT(notifier.shown.back().text, ::testing::HasSubstr("missing/command.bin"));
    host.loadPath = (dir / "absent.bin").string();
    editor.OnLoad();
    EXPECT_THAT(notifier.shown.back().text, ::testing::HasSubstr("absent.bin"));
    EXPECT_EQ(editor.commandText(), "");
    EXPECT_EQ(notifier.shown.size(), 5u);
}

TEST_F(EditorTest, SaveRefusesWhatIsNotAFileAtOnce) {
    // A named pipe nobody reads from would hold an open for writing for ever.
    const fs::path pipe = dir / "pipe.bin";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    editor.OnTextChanged("1b 40 ");
    host.savePath = pipe.string();
    std::atomic<bool> done{false};
    std::thread saving([&] {
        editor.OnSave();
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool waited = !done;
    if (waited) {
        // Lets the waiting open return, and takes what it writes.
        const int fd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        while (!done) {
            char sink[64];
            if (::read(fd, sink, sizeof sink) <= 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::close(fd);
    }
    saving.join();
    EXPECT_FALSE(waited) << "saving to a named pipe waited for a reader";
    EXPECT_TRUE(fs::is_fifo(pipe));
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].text, "Can't write the command file \"" + pipe.string() +
                                          "\": it is a named pipe (FIFO), not a file.");
    EXPECT_EQ(notifier.shown[0].icon, MessageIcon::Exclamation);

    host.savePath = "/dev/null";
    editor.OnSave();
    EXPECT_EQ(notifier.shown.back().text,
              "Can't write the command file \"/dev/null\": it is a device, not a file.");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(EditorTest, LoadRefusesWhatIsNotACommandFileAtOnce) {
    fs::create_directory(dir / "folder.bin");
    const fs::path big = dir / "big.bin";
    std::ofstream(big).close();
    fs::resize_file(big, kMaxCommandFileBytes + 1);
    tessaly::testing::FifoWatchdog fifo((dir / "fifo.bin").string());
    ASSERT_TRUE(fifo.made());
    struct Case {
        std::string path;
        const char* reason;
    };
    for (const Case& c : {Case{(dir / "folder.bin").string(), "it is a directory, not a file"},
                          Case{fifo.path(), "it is a named pipe (FIFO), not a file"},
                          Case{"/dev/zero", "it is a device, not a file"},
                          Case{big.string(),
                               "it holds 1048577 bytes; a command file may hold "
                               "at most 1 MiB (1048576 bytes)"}}) {
        editor.OnTextChanged("1b 40 ");
        host.loadPath = c.path;
        editor.OnLoad();
        EXPECT_EQ(editor.commandText(), "") << c.path;
        ASSERT_FALSE(notifier.shown.empty());
        EXPECT_EQ(notifier.shown.back().text,
                  "Can't read the command file \"" + c.path + "\": " + c.reason + ".");
        EXPECT_EQ(notifier.shown.back().icon, MessageIcon::Exclamation);
    }
    EXPECT_FALSE(fifo.Blocked()) << "opening the named pipe waited for a writer";

    // A file of exactly the limit still loads.
    fs::resize_file(big, kMaxCommandFileBytes);
    host.loadPath = big.string();
    notifier.shown.clear();
    editor.OnLoad();
    EXPECT_TRUE(notifier.shown.empty());
    EXPECT_EQ(editor.commandText().size(), 3 * kMaxCommandFileBytes);
}

}  // namespace
}  // namespace tessaly::ui
