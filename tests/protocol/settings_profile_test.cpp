#include "settings_profile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "set_status.h"
#include "status_view.h"

namespace tessaly {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

PrinterSettings Record(std::uint8_t msw1, std::uint8_t msw2, std::uint8_t msw8, std::uint8_t msw9,
                       std::uint8_t msw10, std::uint8_t msw11, std::uint8_t msw12, int index) {
    PrinterSettings s;
    SetSwitchValue(s.msw1, msw1);
    SetSwitchValue(s.msw2, msw2);
    SetSwitchValue(s.msw8, msw8);
    SetSwitchValue(s.msw9, msw9);
    SetSwitchValue(s.msw10, msw10);
    SetSwitchValue(s.msw11, msw11);
    SetSwitchValue(s.msw12, msw12);
    s.buyerSetIndex = index;
    return s;
}

SettingsProfile Parse(const std::string& text) {
    std::string error;
    auto profile = ParseProfile(text, error);
    EXPECT_TRUE(profile) << error;
    return profile.value_or(SettingsProfile{});
}

std::string Refusal(const std::string& text) {
    std::string error;
    EXPECT_FALSE(ParseProfile(text, error)) << text;
    return error;
}

// The status files the other tests save and load: what Get Status reads from the
// virtual printer's default and test configurations, Initialize Status, every
// buyer-set entry, and records that only a hand-made or damaged file holds.
std::vector<PrinterSettings> StatusFilesOfTheTests() {
    std::vector<PrinterSettings> records{
        Record(0x08, 0, 0, 0, 0, 0, 0, 0),        // the virtual printer's defaults
        Record(0x08, 0x29, 0, 0, 0x20, 0, 0, 0),  // Font B, code page 5, two colour
        Record(0x18, 0x2B, 0, 1, 0, 0, 0x02, 4),  // CHN-BIG5
        Record(0x1F, 0xFF, 0xFF, 0x01, 0x73, 0xFF, 0x03, 5),
        Record(0, 0, 0, 0, 0, 0, 0, 1),                    // after Initialize Status
        Record(0x08, 0x04, 0x42, 0x01, 0x10, 0, 0x01, 2),  // KOR, code page 32
        Record(0x08, 0, 0, 0, 0, 0, 0x01, 1),              // index and switch 12 disagree
        Record(0x08, 0, 0, 0x01, 0, 0, 0x02, 3),           // CHN-GB2312
        Record(0x08, 0xF4, 0, 0, 0, 0, 0x10, 0),           // code page 62, unknown buyer value
        Record(0, 0x0C, 0, 0, 0, 0, 0, -1),                // out-of-range list index
        Record(0, 0, 0, 0, 0, 0, 0, 7),
    };
    PrinterSettings odd = Record(0x08, 0x29, 0, 0, 0, 0, 0, 2);
    odd.msw10[6] = -7;  // a reply character other than '0' or '1'
    odd.msw8[0] = 0x01020304;
    odd.msw12[1] = 2;
    records.push_back(odd);
    PrinterSettings initialised = Record(0x3F, 0x29, 0x11, 1, 0x21, 4, 3, 5);
    SilentStatusView view;
    InitializeStatus(initialised, view);
    records.push_back(initialised);
    return records;
}

void ExpectByteExactRoundTrip(const SettingsImage& image) {
    const PrinterSettings settings = DecodeSettings(image);
    const std::string text = FormatProfile(ProfileFromSettings(settings));
    std::string error;
    const auto profile = ParseProfile(text, error);
    ASSERT_TRUE(profile) << error << "\n" << text;
    const auto back = SettingsFromProfile(*profile, error);
    ASSERT_TRUE(back) << error << "\n" << text;
    EXPECT_EQ(EncodeSettings(*back), image) << text;
}

TEST(ProfileRoundTrip, EveryStatusFileOfTheTestsComesBackByteForByte) {
    for (const PrinterSettings& s : StatusFilesOfTheTests())
        ExpectByteExactRoundTrip(EncodeSettings(s));
}

TEST(ProfileRoundTrip, AnyTwoHundredAndFiftySixBytesComeBack) {
    std::mt19937 random(16);
    for (int i = 0; i < 300; ++i) {
        SettingsImage image{};
        // Half the images are plain records with random bits, half random bytes.
        if (i % 2 == 0) {
            PrinterSettings s;
            for (int number : kRecordSwitches)
                SetSwitchValue(*SwitchByNumber(s, number), static_cast<std::uint8_t>(random()));
            s.buyerSetIndex = static_cast<int>(random() % 7);
            image = EncodeSettings(s);
        } else {
            for (auto& b : image) b = static_cast<std::uint8_t>(random());
        }
        ExpectByteExactRoundTrip(image);
    }
}

TEST(ProfileFormat, NamesSettingsByTheTextsOfThePagesAndRepeatsNoBit) {
    const std::string text =
        FormatProfile(ProfileFromSettings(Record(0x08, 0x29, 0x42, 0x01, 0x20, 0, 0x01, 2)),
                      "Exported from /dev/ttyS0");
    EXPECT_THAT(text, HasSubstr("# Exported from /dev/ttyS0\n"));
    EXPECT_THAT(text, HasSubstr("internal_buzzer_control = \"Enable\"\n"));
    EXPECT_THAT(text, HasSubstr("font_type = \"Font B (9X24)\"\n"));
    EXPECT_THAT(text, HasSubstr("two_color_print = \"2 Color\"\n"));
    EXPECT_THAT(text, HasSubstr("code_page = \"PC865 (Nordic)\"\n"));
    EXPECT_THAT(text, HasSubstr("buyer_set = \"KOR\"\n"));
    // Switch 2 and 12 are fully named above; switch 9 bit 1 follows from KOR.
    EXPECT_THAT(text,
                HasSubstr("[switches]\nmsw1 = \"000xx000\"\nmsw8 = \"01000010\"\n"
                          "msw9 = \"0000000x\"\nmsw10 = \"00xx000x\"\nmsw11 = \"00000000\"\n"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("msw2 =")));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("msw12 =")));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("[status_file]")));

    // "Reserved" names three entries: such code pages are written as numbers.
    EXPECT_THAT(FormatProfile(ProfileFromSettings(Record(0, 0xF0, 0, 0, 0, 0, 0, 0))),
                HasSubstr("code_page = 30\n"));
}

TEST(ProfileParse, NamedSettingsAndRawBitsNameOnlyTheirBits) {
    const SettingsProfile p = Parse(R"toml(
paper_width = "2 Inch"
auto_cutter = "Full Cut"
code_page = "PC850 (Multilingual)"

[switches]
msw8 = "0100001x"
)toml");
    PrinterSettings printer = Record(0x08, 0x01, 0x01, 0, 0x01, 0x55, 0, 0);
    const PrinterSettings overlaid = OverlayProfile(printer, p);
    EXPECT_EQ(SwitchValue(overlaid.msw10), 0x11);  // paper width set, external buzzer kept
    EXPECT_EQ(CodePageIndex(overlaid.msw2), 2);
    EXPECT_EQ(SwitchValue(overlaid.msw2) & 0x03, 0x03);  // font kept, cutter full
    EXPECT_EQ(SwitchValue(overlaid.msw8), 0x43);         // bit 1 kept from the printer
    EXPECT_EQ(SwitchValue(overlaid.msw11), 0x55);
    EXPECT_EQ(overlaid.buyerSetIndex, 0);
    EXPECT_FALSE(p.Complete());
}

TEST(ProfileParse, ABuyerSetSetsSwitch12AndTheNationalMarkUnlessSwitch9IsNamed) {
    SettingsProfile p = Parse("buyer_set = \"JAP\"\n");
    EXPECT_EQ(p.buyerSetIndex, 5);
    PrinterSettings s = OverlayProfile(PrinterSettings{}, p);
    EXPECT_EQ(BuyerValue(s.msw12), 3);
    EXPECT_EQ(s.msw9[1], 1);

    s = OverlayProfile(Record(0, 0, 0, 0x01, 0, 0, 1, 0), Parse("buyer_set = \"STD\"\n"));
    EXPECT_EQ(BuyerValue(s.msw12), 0);
    EXPECT_EQ(s.msw9[1], 0);

    s = OverlayProfile(PrinterSettings{},
                       Parse("buyer_set = \"KOR\"\n[switches]\nmsw9 = \"xxxxxxx0\"\n"));
    EXPECT_EQ(s.msw9[1], 0);
}

TEST(ProfileParse, RefusesUnknownKeysAndValuesWithWhatIsAllowed) {
    EXPECT_THAT(Refusal("paper_wdth = \"3 Inch\"\n"),
                AllOf(HasSubstr("Unknown key \"paper_wdth\" (line 1)"), HasSubstr("paper_width"),
                      HasSubstr("[switches]")));
    EXPECT_THAT(Refusal("\n\npaper_width = \"4 Inch\"\n"),
                HasSubstr("paper_width = \"4 Inch\" (line 3) is not allowed. Allowed: \"3 Inch\" "
                          "or \"2 Inch\"."));
    EXPECT_THAT(Refusal("font_type = 1\n"), HasSubstr("\"Font A (12X24)\" or \"Font B (9X24)\""));
    EXPECT_THAT(Refusal("buyer_set = \"Select the Buyer's CodePage Set\"\n"),
                HasSubstr("\"STD\", \"KOR\", \"CHN-GB2312\", \"CHN-BIG5\" or \"JAP\""));
    EXPECT_THAT(Refusal("code_page = \"PC437\"\n"),
                AllOf(HasSubstr("\"PC437 (USA: Standard Europe)\""), HasSubstr("0 to 63")));
    EXPECT_THAT(Refusal("code_page = 64\n"), HasSubstr("code_page = 64 (line 1) is not allowed"));
    EXPECT_THAT(Refusal("code_page = \"Reserved\"\n"),
                AllOf(HasSubstr("names more than one entry"), HasSubstr("30, 31, 36")));
    EXPECT_THAT(Refusal("[switches]\nmsw3 = \"00000000\"\n"),
                AllOf(HasSubstr("Unknown key \"switches.msw3\""), HasSubstr("msw12")));
    EXPECT_THAT(Refusal("[switches]\nmsw8 = \"0100002x\"\n"),
                AllOf(HasSubstr("switches.msw8 = \"0100002x\" (line 2)"),
                      HasSubstr("eight characters 0, 1 or x")));
    EXPECT_THAT(Refusal("[status_file]\nmsw8 = [0, 1]\n"), HasSubstr("nine whole numbers"));
    EXPECT_THAT(Refusal("[status_file]\nbuyer_set_index = 4294967296\n"),
                HasSubstr("a whole number"));
    EXPECT_THAT(Refusal("switches = 3\n"), HasSubstr("must be a table"));
    // Every problem of a file is reported at once, one line each.
    const std::string all = Refusal("font_type = 1\npaper_width = 2\nfoo = 3\n");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2) << all;
}

TEST(ProfileParse, RefusesEntriesThatContradictEachOther) {
    EXPECT_THAT(
        Refusal("paper_width = \"2 Inch\"\n[switches]\nmsw10 = \"xxx0xxxx\"\n"),
        AllOf(HasSubstr("paper_width = \"2 Inch\" (line 1)"),
              HasSubstr("switches.msw10 = \"xxx0xxxx\" (line 3)"), HasSubstr("msw10 bit 5")));
    EXPECT_THAT(Refusal("buyer_set = \"KOR\"\n[switches]\nmsw12 = \"00000010\"\n"),
                HasSubstr("msw12 bit 1"));
    EXPECT_THAT(Refusal("code_page = 5\n[switches]\nmsw2 = \"00000000\"\n"), HasSubstr("msw2 bit"));
    EXPECT_THAT(Refusal("buyer_set = \"KOR\"\n[status_file]\nbuyer_set_index = 3\n"),
                HasSubstr("buyer-set entries"));
    EXPECT_THAT(Refusal("[switches]\nmsw8 = \"00000000\"\n[status_file]\n"
                        "msw8 = [0, 2, 0, 0, 0, 0, 0, 0, 0]\n"),
                HasSubstr("msw8 bit 1"));
    // Entries that agree are no conflict.
    Parse("paper_width = \"2 Inch\"\n[switches]\nmsw10 = \"xxx1xxxx\"\n");
}

TEST(ProfileParse, ReportsTomlSyntaxErrorsWithTheirPlace) {
    EXPECT_THAT(Refusal("paper_width = \"3 Inch\"\nfont_type = \n"), HasSubstr("line 2"));
    EXPECT_THAT(Refusal("paper_width = \"3 Inch\"\npaper_width = \"2 Inch\"\n"),
                HasSubstr("line 2"));
    EXPECT_THAT(Refusal(std::string("\n[sw\0itches]\n", 14)), HasSubstr("line 2"));
    EXPECT_THAT(Refusal("\n[(switches]\n"), HasSubstr("line 2"));
}

TEST(ProfileParse, TakesCharactersOutsideAsciiOnlyInComments) {
    const SettingsProfile p = Parse(
        "\xEF\xBB\xBF# Filiale K\xC3\xB6ln\n"
        "code_page = \"PC866 (Cyrillic #2)\" # K\xC3\xB6ln \"quoted\"\n"
        "paper_width = '3 Inch' # \xE2\x80\x94\n");
    EXPECT_EQ(p.request(10).named, 0x10);
    EXPECT_THAT(Refusal("paper_width = \xC3\xA9\n"),
                HasSubstr("line 1, column 15: only comments may hold characters outside ASCII"));
    // Where toml++ itself would reach code it marks unreachable.
    EXPECT_THAT(Refusal("a = \"\"\"x\\\n  \xEF\xB4\xBF\"\"\"\n"), HasSubstr("line 2, column 3"));
    EXPECT_THAT(Refusal("a = '''x''''\n\xC2\xA1 = 1\n"), HasSubstr("line 2, column 1"));
    EXPECT_THAT(Refusal("pw\xEF\xB4\xBF\x1C[2\xEF\xBB\xBF"), HasSubstr("line 1, column 3"));
}

TEST(ProfileToStatusFile, NeedsEveryBitAndSaysWhichAreMissing) {
    std::string error;
    EXPECT_FALSE(SettingsFromProfile(Parse("paper_width = \"2 Inch\"\n"), error));
    EXPECT_THAT(error, AllOf(HasSubstr("msw1 bits 8, 7, 6, 5, 4, 3, 2, 1"),
                             HasSubstr("msw10 bits 8, 7, 6, 4, 3, 2, 1")));
    EXPECT_THAT(error, ::testing::Not(HasSubstr("msw10 bits 8, 7, 6, 5")));
}

TEST(DiffSettings, GroupsBitsBySettingAndReportsTheRestPerSwitch) {
    const PrinterSettings from = Record(0x08, 0x29, 0, 0, 0x00, 0, 0, 0);
    const PrinterSettings to = Record(0x0C, 0x21, 0x42, 0x01, 0x10, 0, 3, 0);
    const auto changes = DiffSettings(from, to);
    ASSERT_EQ(changes.size(), 6u);
    EXPECT_EQ(changes[0], (SettingChange{"paper_width", "3 Inch", "2 Inch", {{10, 5}}}));
    EXPECT_EQ(changes[1].key, "code_page");
    EXPECT_EQ(changes[1].from, "PC865 (Nordic)");
    EXPECT_EQ(changes[1].to, "PC863 (Canadian-French)");
    EXPECT_EQ(changes[1].Label(), "Default Code Page");
    EXPECT_EQ(changes[0].Label(), "Paper Width");
    EXPECT_EQ(changes[1].BitsText(), "msw2 bit 4");
    EXPECT_EQ(changes[2], (SettingChange{"buyer_set", "STD", "JAP", {{12, 1}, {12, 2}}}));
    EXPECT_EQ(changes[2].BitsText(), "msw12 bits 1, 2");
    EXPECT_EQ(changes[3], (SettingChange{"switches.msw1", "00001000", "00001100", {{1, 3}}}));
    EXPECT_EQ(changes[4].key, "switches.msw8");
    // The national mark is a bit of its own: no named setting covers it.
    EXPECT_EQ(changes[5], (SettingChange{"switches.msw9", "00000000", "00000001", {{9, 1}}}));
    PrinterSettings odd = from;
    odd.msw2[1] = 7;  // any non-zero element counts as set
    EXPECT_THAT(DiffSettings(Record(0x08, 0x29, 0, 0, 0, 0, 0, 0), odd), IsEmpty());
}

TEST(PlanApply, WritesNothingWhenThePrinterAlreadyMatches) {
    const PrinterSettings printer = Record(0x08, 0x29, 0, 0x01, 0x20, 0, 0x01, 0);
    const ApplyPlan plan = PlanApply(printer, ProfileFromSettings(printer));
    EXPECT_THAT(plan.changes, IsEmpty());
    EXPECT_EQ(plan.buyerSetIndex, 0);
    EXPECT_THAT(plan.refusal, IsEmpty());
    // Naming the buyer set the printer already has downloads no font.
    EXPECT_EQ(PlanApply(printer, Parse("buyer_set = \"KOR\"\n")).buyerSetIndex, 0);
}

TEST(PlanApply, WritesSwitch12OnlyWhenTheBuyerSetChanges) {
    const PrinterSettings printer = Record(0x08, 0, 0, 0, 0, 0, 0, 0);
    ApplyPlan plan =
        PlanApply(printer, Parse("buyer_set = \"CHN-BIG5\"\npaper_width = \"2 Inch\"\n"));
    EXPECT_EQ(plan.buyerSetIndex, 4);
    EXPECT_EQ(plan.target.buyerSetIndex, 4);
    EXPECT_EQ(BuyerValue(plan.target.msw12), 2);
    EXPECT_EQ(plan.target.msw9[1], 1);
    EXPECT_EQ(plan.changes.size(), 3u);  // paper width, buyer set, msw9

    // Switch 12 named as bits only: the list entry that writes them.
    plan = PlanApply(printer, Parse("[switches]\nmsw12 = \"00000011\"\n"));
    EXPECT_EQ(plan.buyerSetIndex, 5);
    plan = PlanApply(Record(0, 0, 0, 0, 0, 0, 3, 0), Parse("[switches]\nmsw12 = \"00000000\"\n"));
    EXPECT_EQ(plan.buyerSetIndex, 1);
    plan = PlanApply(printer, Parse("[switches]\nmsw12 = \"00000010\"\n"));
    EXPECT_THAT(plan.refusal, HasSubstr("\"CHN-GB2312\" or \"CHN-BIG5\""));
    plan = PlanApply(printer, Parse("[switches]\nmsw12 = \"00010000\"\n"));
    EXPECT_THAT(plan.refusal, HasSubstr("switch 12 value 16 is no buyer set"));
    plan = PlanApply(printer, Parse("[switches]\nmsw12 = \"00000001\"\n[status_file]\n"
                                    "buyer_set_index = 9\n"));
    EXPECT_THAT(plan.refusal, HasSubstr("entry 9 does not exist"));
}

TEST(PlanApply, RefusesSwitch1BitsThatSetStatusCannotWrite) {
    const PrinterSettings printer = Record(0x08, 0, 0, 0, 0, 0, 0, 0);
    const ApplyPlan plan = PlanApply(printer, Parse("[switches]\nmsw1 = \"1xx10xx1\"\n"));
    EXPECT_THAT(plan.refusal,
                AllOf(HasSubstr("msw1 bit 1 is 0 on the printer and 1 in the profile"),
                      HasSubstr("msw1 bit 8"), HasSubstr("write x")));
    EXPECT_THAT(plan.refusal, ::testing::Not(HasSubstr("bit 5")));
    // Bits 4 and 5 alone are fine.
    EXPECT_THAT(PlanApply(printer, Parse("[switches]\nmsw1 = \"xxx10xxx\"\n")).refusal, IsEmpty());
}

struct ProfileFiles : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("profile-files-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string File(const std::string& name) const { return (dir / name).string(); }
};

TEST_F(ProfileFiles, WritesAndReadsBackAndKeepsTheOldFileWhenWritingFails) {
    const SettingsProfile profile = ProfileFromSettings(Record(0x08, 0x29, 0, 0, 0x20, 0, 0, 1));
    std::string error;
    ASSERT_TRUE(WriteProfileFile(File("a.toml"), profile, "heading", error)) << error;
    SettingsProfile back;
    ASSERT_TRUE(ReadProfileFile(File("a.toml"), back, error)) << error;
    EXPECT_EQ(back, profile);

    if (::geteuid() != 0) {  // root writes into a read-only folder anyway
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(WriteProfileFile(File("a.toml"), SettingsProfile{}, "", error));
        EXPECT_THAT(error, HasSubstr("unchanged"));
        fs::permissions(dir, fs::perms::owner_all);
        ASSERT_TRUE(ReadProfileFile(File("a.toml"), back, error));
        EXPECT_EQ(back, profile);
    }
    EXPECT_FALSE(WriteProfileFile(File("missing/a.toml"), profile, "", error));
    EXPECT_THAT(error, HasSubstr("Can't write the profile"));
}

TEST_F(ProfileFiles, RefusesWhatIsNoProfileWithoutBlockingOrReadingForever) {
    std::string error;
    SettingsProfile profile;
    ASSERT_EQ(::mkfifo(File("fifo.toml").c_str(), 0600), 0);
    EXPECT_FALSE(ReadProfileFile(File("fifo.toml"), profile, error));
    EXPECT_THAT(error, HasSubstr("it is a named pipe (FIFO), not a file"));
    EXPECT_FALSE(ReadProfileFile(dir.string(), profile, error));
    EXPECT_FALSE(ReadProfileFile("/dev/zero", profile, error));
    EXPECT_FALSE(ReadProfileFile(File("none.toml"), profile, error));
    EXPECT_THAT(error, HasSubstr("Can't read the profile"));
    {
        std::ofstream big(File("big.toml"));
        big << std::string(kMaxProfileBytes + 1, '#');
    }
    EXPECT_FALSE(ReadProfileFile(File("big.toml"), profile, error));
    EXPECT_THAT(error, HasSubstr("a profile may hold at most 1 MiB"));
    {
        std::ofstream bad(File("bad.toml"));
        bad << "paper_width = \"9 Inch\"\n";
    }
    EXPECT_FALSE(ReadProfileFile(File("bad.toml"), profile, error));
    EXPECT_THAT(error, AllOf(HasSubstr("was refused"), HasSubstr("9 Inch")));
    EXPECT_TRUE(HasProfileFileName("a.toml"));
    EXPECT_FALSE(HasProfileFileName("a.sts"));
    EXPECT_FALSE(HasProfileFileName(".toml"));
}

}  // namespace
}  // namespace tessaly
