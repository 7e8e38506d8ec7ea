#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fifo_watchdog.h"
#include "printer_settings.h"
#include "status_fakes.h"
#include "status_file.h"

namespace tessaly {
namespace {

using ::testing::ElementsAre;
using namespace tessaly::testing;
namespace fs = std::filesystem;

SwitchBits OnlyBits(std::initializer_list<int> ks) {
    SwitchBits b{};
    for (int k : ks) b[static_cast<std::size_t>(k)] = 1;
    return b;
}

TEST(CodePageIndex, BitThreeIsTheMostSignificant) {
    EXPECT_EQ(CodePageIndex(OnlyBits({6})), 4);
    EXPECT_STREQ(kCodePageNames[4], "PC863 (Canadian-French)");
    EXPECT_EQ(CodePageIndex(OnlyBits({3})), 32);
    EXPECT_STREQ(kCodePageNames[32], "User Codepage(Page 43)");
    EXPECT_EQ(CodePageIndex(OnlyBits({4, 8})), 17);
    EXPECT_EQ(CodePageIndex(OnlyBits({1, 2})), 0);  // font and cutter bits are not part of it
    EXPECT_EQ(CodePageIndex(OnlyBits({3, 4, 5, 6, 7, 8})), 63);
    EXPECT_EQ(ListEntry(kCodePageNames, 37), nullptr);
}

TEST(CodePageIndex, EncodingRoundTripsAndKeepsBitsOneAndTwo) {
    for (int c = 0; c < 64; ++c) {
        SwitchBits b = OnlyBits({1, 2});
        SetCodePageIndex(b, c);
        EXPECT_EQ(CodePageIndex(b), c);
        EXPECT_EQ(b[1], 1);
        EXPECT_EQ(b[2], 1);
    }
}

TEST(BuyerValue, NonZeroElementsCountAsSet) {
    SwitchBits b = OnlyBits({1, 2});
    EXPECT_EQ(BuyerValue(b), 3);
    b[1] = -48;  // a NUL reply character minus '0'
    EXPECT_EQ(BuyerValue(b), 3);
    EXPECT_EQ(BuyerValueForListIndex(3), BuyerValueForListIndex(4));
    EXPECT_EQ(BuyerValueForListIndex(0), -1);
}

PrinterSettings Sample() {
    PrinterSettings s;
    SetSwitchValue(s.msw1, 0x18);
    SetSwitchValue(s.msw2, 0x2B);
    SetSwitchValue(s.msw12, 0x02);
    s.msw10[6] = -7;  // kept as it is
    s.msw8[0] = 0x01020304;
    s.buyerSetIndex = 4;
    return s;
}

TEST(SettingsImage, LittleEndianIntegersInFieldOrder) {
    const SettingsImage image = EncodeSettings(Sample());
    EXPECT_THAT(std::vector<std::uint8_t>(image.begin() + 16, image.begin() + 20),
                ElementsAre(1, 0, 0, 0));  // msw1 bit 4
    EXPECT_THAT(std::vector<std::uint8_t>(image.begin() + 72, image.begin() + 76),
                ElementsAre(4, 3, 2, 1));  // msw8 element 0
    EXPECT_THAT(std::vector<std::uint8_t>(image.begin() + 144 + 24, image.begin() + 144 + 28),
                ElementsAre(0xF9, 0xFF, 0xFF, 0xFF));  // msw10 bit 6 = -7
    EXPECT_EQ(image[216 + 8], 1);                      // msw12 bit 2
    EXPECT_EQ(image[252], 4);
    EXPECT_EQ(DecodeSettings(image), Sample());
}

TEST(SettingsImage, ShortImagesLeaveZerosAndLongOnesAreCut) {
    const SettingsImage image = EncodeSettings(Sample());
    const PrinterSettings shortOne = DecodeSettings(std::span(image.data(), 100));
    EXPECT_EQ(SwitchValue(shortOne.msw1), 0x18);
    EXPECT_EQ(shortOne.msw2[7], Sample().msw2[7]);  // integer 24, offset 96
    EXPECT_EQ(shortOne.msw2[8], 0);                 // integer 25 is past 100 bytes
    EXPECT_EQ(shortOne.buyerSetIndex, 0);

    std::vector<std::uint8_t> longer(image.begin(), image.end());
    longer.resize(300, 0xAA);
    EXPECT_EQ(DecodeSettings(longer), Sample());
}

struct StatusFiles : ::testing::Test {
    fs::path dir;
    RecordingNotifier notifier;
    RecordingView view;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("status-files-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }
    static std::vector<char> Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

TEST_F(StatusFiles, SaveThenLoadGivesTheSameRecordAndSelectsItsBuyerSet) {
    ASSERT_TRUE(SaveStatus(Path("a.sts"), Sample(), notifier));
    EXPECT_EQ(fs::file_size(Path("a.sts")), 256u);
    PrinterSettings loaded;
    ASSERT_TRUE(LoadStatus(Path("a.sts"), loaded, view, notifier));
    EXPECT_EQ(loaded, Sample());
    EXPECT_TRUE(notifier.shown.empty());
    EXPECT_EQ(view.selectedBuyerSet, 4);
    EXPECT_EQ(view.enabled & (kSetButton | kSaveButton), kSetButton | kSaveButton);
    EXPECT_THAT(view.calls, ::testing::Contains("refresh on"));
    // Nothing but the files we asked for: no temporary left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(StatusFiles, NameMustEndInLowerCaseSts) {
    const PrinterSettings before = Sample();
    for (const char* name : {"A.STS", "a.st", "a.sts.bak"}) {
        ASSERT_TRUE(SaveStatus(Path(name), PrinterSettings{}, notifier));
        PrinterSettings record = before;
        EXPECT_FALSE(LoadStatus(Path(name), record, view, notifier)) << name;
        EXPECT_EQ(record, before);
    }
    EXPECT_EQ(notifier.shown, std::vector<Message>(3, messages::kWrongFormatFile));
    ASSERT_TRUE(SaveStatus(Path("nodotsts"), Sample(), notifier));
    PrinterSettings record;
    EXPECT_TRUE(LoadStatus(Path("nodotsts"), record, view, notifier));
    EXPECT_EQ(record, Sample());
}

TEST_F(StatusFiles, HundredByteFileLoadsTwentyFiveIntegers) {
    const SettingsImage image = EncodeSettings(Sample());
    {
        std::ofstream out(Path("short.sts"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), 100);
    }
    PrinterSettings record = Sample();
    ASSERT_TRUE(LoadStatus(Path("short.sts"), record, view, notifier));
    EXPECT_EQ(record, DecodeSettings(std::span(image.data(), 100)));
    EXPECT_EQ(record.buyerSetIndex, 0);
    EXPECT_EQ(view.selectedBuyerSet, 0);
}

TEST_F(StatusFiles, MissingOrUnreadableFilesAreReported) {
    PrinterSettings record = Sample();
    EXPECT_FALSE(LoadStatus(Path("missing.sts"), record, view, notifier));
    fs::create_directory(Path("folder.sts"));
    EXPECT_FALSE(LoadStatus(Path("folder.sts"), record, view, notifier));
    EXPECT_EQ(record, Sample());
    ASSERT_EQ(notifier.shown.size(), 2u);
    EXPECT_THAT(notifier.shown[0].text, ::testing::HasSubstr("missing.sts"));
    EXPECT_EQ(notifier.shown[0].caption, "Warning");
    EXPECT_THAT(notifier.shown[1].text, ::testing::HasSubstr("folder.sts"));
    EXPECT_TRUE(view.calls.empty());
}

TEST_F(StatusFiles, NamedPipesAndDevicesAreRefusedWithoutWaiting) {
    tessaly::testing::FifoWatchdog fifo(Path("pipe.sts"));
    ASSERT_TRUE(fifo.made());
    PrinterSettings record = Sample();
    EXPECT_FALSE(LoadStatus(fifo.path(), record, view, notifier));
    EXPECT_FALSE(fifo.Blocked()) << "the open waited for a writer";
    ASSERT_EQ(::symlink("/dev/zero", Path("zero.sts").c_str()), 0);
    EXPECT_FALSE(LoadStatus(Path("zero.sts"), record, view, notifier));
    EXPECT_EQ(record, Sample());
    EXPECT_TRUE(view.calls.empty());
    EXPECT_THAT(notifier.texts(), ElementsAre("Can't load the status from \"" + fifo.path() +
                                                  "\": it is a named pipe (FIFO), not a file.",
                                              "Can't load the status from \"" + Path("zero.sts") +
                                                  "\": it is a device, not a file."));
}

TEST_F(StatusFiles, ValuesNoSettingHasAreNamedAndLoadedAsTheyAre) {
    PrinterSettings odd;
    odd.buyerSetIndex = 9;
    SetSwitchValue(odd.msw12, 5);
    ASSERT_TRUE(SaveStatus(Path("odd.sts"), odd, notifier));
    PrinterSettings record;
    ASSERT_TRUE(LoadStatus(Path("odd.sts"), record, view, notifier));
    EXPECT_EQ(record, odd);
    EXPECT_EQ(view.enabled & kSetButton, kSetButton) << "Set Status stays usable";
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].caption, "Information");
    EXPECT_EQ(notifier.shown[0].text,
              "The status file \"" + Path("odd.sts") +
                  "\" holds values that no printer setting has:\n"
                  "- buyer-set index 9 (the buyer-set list has entries 0 to 5)\n"
                  "- memory switch 12 = 00000101 (value 5 names no buyer set: 0 STD, 1 KOR, 2 "
                  "CHN, 3 JAP)\n"
                  "Set Status writes them into the printer as they are.");

    // Index 0 leaves the printer's switch 12 alone: its value is not written.
    odd.buyerSetIndex = 0;
    EXPECT_TRUE(UnknownSettingValues(odd).empty());
    odd.buyerSetIndex = -1;
    EXPECT_EQ(UnknownSettingValues(odd).size(), 2u);
    odd.buyerSetIndex = 5;
    EXPECT_THAT(UnknownSettingValues(odd), ElementsAre(::testing::StartsWith("memory switch 12")));
    SetSwitchValue(odd.msw12, 3);
    EXPECT_FALSE(UnknownValuesWarning("x.sts", odd));
}

TEST_F(StatusFiles, FailedSaveKeepsTheExistingFile) {
    // The target is a directory: the rename fails after the data was written.
    fs::create_directory(Path("taken.sts"));
    EXPECT_FALSE(SaveStatus(Path("taken.sts"), Sample(), notifier));
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_THAT(notifier.shown[0].text, ::testing::HasSubstr("taken.sts"));
    EXPECT_TRUE(fs::is_directory(Path("taken.sts")));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // A folder that does not exist: nothing is created.
    EXPECT_FALSE(SaveStatus(Path("no/such/dir/x.sts"), Sample(), notifier));
    EXPECT_EQ(notifier.shown.size(), 2u);
}

TEST_F(StatusFiles, SaveNeverReplacesWhatIsNotAFile) {
    // Renaming a new file over a named pipe or a device node would replace the
    // node itself (as root even /dev/null): it is refused, the node stays.
    ASSERT_EQ(::mkfifo(Path("pipe.sts").c_str(), 0600), 0);
    EXPECT_FALSE(SaveStatus(Path("pipe.sts"), Sample(), notifier));
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].text, "Can't save the status to \"" + Path("pipe.sts") +
                                          "\": it is a named pipe (FIFO), not a file.\n"
                                          "Any existing file of that name is unchanged.");
    EXPECT_TRUE(fs::is_fifo(Path("pipe.sts")));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "no temporary file is left";

    const std::uint8_t byte = 0x41;
    std::string reason;
    EXPECT_EQ(WriteFileReplacing("/dev/null", {&byte, 1}, &reason), StatusFileResult::CreateFailed);
    EXPECT_EQ(reason, "it is a device, not a file");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(StatusFiles, OverwriteReplacesContentsAndKeepsPermissions) {
    ASSERT_TRUE(SaveStatus(Path("p.sts"), PrinterSettings{}, notifier));
    ::chmod(Path("p.sts").c_str(), 0640);
    ASSERT_TRUE(SaveStatus(Path("p.sts"), Sample(), notifier));
    struct stat st {};
    ASSERT_EQ(::stat(Path("p.sts").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    PrinterSettings record;
    ASSERT_EQ(ReadStatusFile(Path("p.sts"), record), StatusFileResult::Ok);
    EXPECT_EQ(record, Sample());
}

}  // namespace
}  // namespace tessaly
