// export, convert, show and apply run as a user runs them, against virtual
// printers on pseudo-terminals owned by the test: the real serial port code, one
// terminal per printer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "apply_command.h"
#include "cli_wire.h"
#include "payloads.h"
#include "pty_printer.h"
#include "r3_engine.h"
#include "status_file.h"

namespace tessaly {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace tessaly::testing::wire;
using nlohmann::json;

struct Printer {
    std::unique_ptr<sim::R3Engine> engine;
    std::unique_ptr<sim::PtyPrinter> pty;
    std::string port() const { return pty->slavePath(); }
    // The bytes received since the last call.
    Bytes NewBytes() {
        pty->waitIdle();
        const Bytes log = engine->receivedLog();
        Bytes fresh(log.begin() + static_cast<long>(seen), log.end());
        seen = log.size();
        return fresh;
    }
    std::size_t seen = 0;
};

struct ApplyCli : ::testing::Test {
    std::filesystem::path dir;
    std::deque<Printer> printers;  // references stay valid as printers are added

    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("apply-cli-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string File(const std::string& name) const { return (dir / name).string(); }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(File(name)) << text;
        return File(name);
    }

    Printer& Start(sim::PrinterConfig config = {}) {
        Printer& p = printers.emplace_back();
        p.engine = std::make_unique<sim::R3Engine>(config);
        p.pty = std::make_unique<sim::PtyPrinter>(*p.engine);
        EXPECT_TRUE(p.pty->start()) << p.pty->error();
        return p;
    }
    Outcome Run(const std::vector<std::string>& args) {
        auto o = RunCli(args, 120000);
        EXPECT_FALSE(o.timedOut) << "the command line must never hang";
        return o;
    }
    static std::vector<json> JsonLines(const std::string& out) {
        std::vector<json> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
        return lines;
    }
};

constexpr const char* kShopProfile = R"toml(
# Shop receipts
paper_width = "2 Inch"
code_page = "PC850 (Multilingual)"
[switches]
msw8 = "0100001x"
)toml";

TEST_F(ApplyCli, AppliesOnceThenReportsUnchangedAndWritesNothing) {
    Printer& p = Start();
    const std::string profile = Write("shop.toml", kShopProfile);

    auto o = Run({"--port", p.port(), "apply", profile});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, AllOf(HasSubstr(p.port() + ": paper_width: 3 Inch -> 2 Inch (msw10 bit 5)"),
                             HasSubstr("code_page: PC437 (USA: Standard Europe) -> PC850 "
                                       "(Multilingual)"),
                             HasSubstr("switches.msw8: 00000000 -> 01000010 (msw8 bits 2, 7)"),
                             HasSubstr(p.port() + ": changed\n")));
    EXPECT_TRUE(Contains(p.NewBytes(), kEnterSetup));
    EXPECT_EQ(p.engine->memorySwitch(10), 0x10);
    EXPECT_EQ(p.engine->memorySwitch(2), 0x10);
    EXPECT_EQ(p.engine->memorySwitch(8), 0x42);
    EXPECT_EQ(p.engine->memorySwitch(1), 0x08) << "what the profile does not name is kept";

    o = Run({"--port", p.port(), "apply", profile});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(o.out, p.port() + ": unchanged\n");
    // The second run is the connection check and one Get Status, nothing else.
    Bytes expected = kCheck;
    const Bytes read = GetStatusWire();
    expected.insert(expected.end(), read.begin(), read.end());
    EXPECT_EQ(p.NewBytes(), expected);
    EXPECT_EQ(p.engine->restartCount(), 1);
}

TEST_F(ApplyCli, ReadBackCatchesAPrinterThatIgnoresASwitchWrite) {
    sim::PrinterConfig config;
    config.fault = sim::FaultMode::IgnoreSwitchWrite;
    config.ignoredSwitch = 10;
    Printer& p = Start(config);
    const auto o = Run({"--port", p.port(), "apply", "--json", Write("shop.toml", kShopProfile)});
    EXPECT_EQ(o.status, 1);
    const auto lines = JsonLines(o.out);
    ASSERT_EQ(lines.size(), 1u) << o.out;
    const json& r = lines[0];
    EXPECT_EQ(r["port"], p.port());
    EXPECT_TRUE(r["changed"]) << "switches 2 and 8 did change";
    EXPECT_THAT(r["error"].get<std::string>(),
                AllOf(HasSubstr("did not take"),
                      HasSubstr("paper_width: wrote 2 Inch, reads 3 Inch (msw10 bit 5)")));
    EXPECT_EQ(r["before"]["paper_width"], "3 Inch");
    EXPECT_EQ(r["after"]["paper_width"], "3 Inch");
    EXPECT_EQ(r["after"]["switches"]["msw8"], "01000010");
    EXPECT_EQ(r["diff"].size(), 3u);
    EXPECT_EQ(r["diff"][0]["key"], "paper_width");
    EXPECT_EQ(r["diff"][0]["bits"][0], "msw10 bit 5");
}

TEST_F(ApplyCli, ManyPrintersAtOnceAndOneFailingPrinterHarmsNoOther) {
    Printer& fresh = Start();
    sim::PrinterConfig done;
    done.switches[1] = 0x10;  // already on the profile
    done.switches[7] = 0x42;
    done.switches[9] = 0x10;
    Printer& matching = Start(done);
    sim::PrinterConfig silent;
    silent.fault = sim::FaultMode::Silence;
    Printer& dead = Start(silent);
    const std::string list =
        Write("ports", "# the shop floor\n" + matching.port() + "\n\n  " + dead.port() +
                           "   # till 3\n" + fresh.port() + "\n");

    const auto o = Run({"--port", fresh.port(), "apply", "--json", "--ports-from", list,
                        Write("shop.toml", kShopProfile)});
    EXPECT_EQ(o.status, 1) << "one printer failed";
    const auto lines = JsonLines(o.out);
    ASSERT_EQ(lines.size(), 4u) << "one line per printer, the same port once, a summary\n" << o.out;
    std::map<std::string, json> byPort;
    for (std::size_t i = 0; i < 3; ++i) byPort[lines[i]["port"]] = lines[i];
    EXPECT_TRUE(byPort.at(fresh.port())["changed"]);
    EXPECT_TRUE(byPort.at(fresh.port())["error"].is_null());
    EXPECT_FALSE(byPort.at(matching.port())["changed"]);
    EXPECT_TRUE(byPort.at(matching.port())["error"].is_null());
    EXPECT_THAT(byPort.at(dead.port())["error"].get<std::string>(),
                HasSubstr("The connection check failed; nothing was written."));
    EXPECT_TRUE(byPort.at(dead.port())["before"].is_null());
    EXPECT_EQ(lines[3]["summary"], json::parse(R"({"printers":3,"changed":1,"unchanged":1,
                                                   "failed":1,"skipped":0})"));
    EXPECT_EQ(fresh.engine->memorySwitch(10), 0x10);
    EXPECT_FALSE(Contains(matching.NewBytes(), kEnterSetup));
    EXPECT_FALSE(Contains(dead.NewBytes(), kEnterSetup));
}

TEST_F(ApplyCli, DiffOnlyPrintsAndRefusalsWriteNothing) {
    Printer& p = Start();
    auto o = Run({"--port", p.port(), "apply", "--diff", Write("shop.toml", kShopProfile)});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, AllOf(HasSubstr("paper_width: 3 Inch -> 2 Inch"),
                             HasSubstr(": would change (--diff: nothing written)")));
    EXPECT_FALSE(Contains(p.NewBytes(), kEnterSetup));

    // A status file asks for what Set Status of it would write: switch 1 bits
    // other than 4 and 5, and switch 12 under the prompt entry, stay the printer's.
    PrinterSettings file;
    SetSwitchValue(file.msw1, 0x0F);
    SetSwitchValue(file.msw10, 0x10);
    SetSwitchValue(file.msw12, 0x01);
    ASSERT_EQ(WriteStatusFile(File("shop.sts"), file), StatusFileResult::Ok);
    o = Run({"--port", p.port(), "apply", "--diff", File("shop.sts")});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, p.port() + ": paper_width: 3 Inch -> 2 Inch (msw10 bit 5)\n" + p.port() +
                         ": would change (--diff: nothing written)\n");
    EXPECT_FALSE(Contains(p.NewBytes(), kEnterSetup));

    // A bit Set Status cannot write, refused after reading the printer.
    o = Run({"--port", p.port(), "apply", Write("low.toml", "[switches]\nmsw1 = \"xxx0xxx1\"\n")});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, AllOf(HasSubstr("cannot be applied"), HasSubstr("msw1 bit 1"),
                             HasSubstr("nothing was written")));
    EXPECT_FALSE(Contains(p.NewBytes(), kEnterSetup));

    // A profile that is refused never reaches the printer.
    o = Run({"--port", p.port(), "apply", Write("bad.toml", "paper_width = \"4 Inch\"\n")});
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, HasSubstr("Allowed: \"3 Inch\" or \"2 Inch\""));
    EXPECT_TRUE(p.NewBytes().empty());
    EXPECT_EQ(Run({"apply", File("bad.toml")}).status, 3);
    EXPECT_EQ(Run({"apply", File("shop.toml")}).status, 2) << "no port";
    EXPECT_EQ(Run({"--virtual-printer", "--port", p.port(), "apply", File("shop.toml")}).status, 2);
    o = Run({"--port", p.port(), "--port", p.port(), "get-status"});
    EXPECT_EQ(o.status, 2);
    EXPECT_THAT(o.err, HasSubstr("only 'apply' works on several printers"));
    EXPECT_EQ(p.NewBytes(), Bytes{});
}

TEST_F(ApplyCli, ANewBuyerSetDownloadsItsFontOnceAndOnlyThen) {
    sim::PrinterConfig config;
    config.firmwareVersion = "VT03.10 R-3";  // CHN-BIG5 then needs payload 146: no pause
    Printer& p = Start(config);
    const std::string profile = Write("big5.toml", "buyer_set = \"CHN-BIG5\"\n");
    auto o = Run({"--yes", "--port", p.port(), "apply", profile});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("buyer_set: STD -> CHN (GB2312 or BIG5) (msw12 bit 2)"));
    EXPECT_EQ(p.engine->memorySwitch(12), 2);
    EXPECT_EQ(p.engine->memorySwitch(9), 1);
    ASSERT_EQ(p.engine->fontReceptions().size(), 1u);
    EXPECT_EQ(p.engine->fontReceptions()[0].expected, payloads::DocumentedSize(146) - 9);

    o = Run({"--yes", "--port", p.port(), "apply", profile});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, p.port() + ": unchanged\n");
    EXPECT_EQ(p.engine->fontReceptions().size(), 1u);
}

TEST_F(ApplyCli, ExportConvertAndShowAgreeWithThePrinter) {
    sim::PrinterConfig config;
    config.switches[0] = 0x1D;  // switch 1 bits 1, 3 (not writable), 4, 5
    config.switches[1] = 0x29;
    config.switches[11] = 0x01;  // KOR
    config.switches[8] = 0x01;
    Printer& p = Start(config);
    auto o = Run({"--port", p.port(), "export", "--profile", File("golden.toml")});
    ASSERT_EQ(o.status, 0) << o.err;
    std::ifstream in(File("golden.toml"));
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_THAT(text, AllOf(HasSubstr("# Exported from " + p.port() +
                                      ": Vantreel R-3, firmware "
                                      "VT04.20 B0312."),
                            HasSubstr("font_type = \"Font B (9X24)\""),
                            HasSubstr("buyer_set = \"KOR\""), Not(HasSubstr("msw1 ="))));
    p.NewBytes();
    o = Run({"--port", p.port(), "apply", File("golden.toml")});
    EXPECT_EQ(o.out, p.port() + ": unchanged\n") << o.err;

    // Status file -> profile -> status file, byte for byte.
    ASSERT_EQ(Run({"--port", p.port(), "get-status", "--save", File("a.sts")}).status, 0);
    o = Run({"convert", File("a.sts"), File("a.toml")});
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(Run({"convert", File("a.toml"), File("b.sts")}).status, 0);
    auto bytes = [&](const std::string& name) {
        std::ifstream f(File(name), std::ios::binary);
        return Bytes{std::istreambuf_iterator<char>(f), {}};
    };
    EXPECT_EQ(bytes("a.sts"), bytes("b.sts"));
    EXPECT_EQ(bytes("a.sts").size(), 256u);

    o = Run({"show", File("golden.toml")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, AllOf(HasSubstr("Font Type                Font B (9X24)"),
                             HasSubstr("msw1=xxx11xxx")));
    o = Run({"show", "--json", File("a.toml")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(json::parse(o.out)["switches"]["msw1"], "00011101");

    // A profile leaving bits to the printer cannot become a status file.
    o = Run({"convert", File("golden.toml"), File("c.sts")});
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err,
                AllOf(HasSubstr("msw1 bits 8, 7, 6, 3, 2, 1"), HasSubstr("Nothing was written")));
    EXPECT_FALSE(std::filesystem::exists(File("c.sts")));
    EXPECT_EQ(Run({"convert", File("a.sts"), File("d.sts")}).status, 2);
}

TEST(ProgressBoard, RewritesEachPrinterLineInPlaceAndNothingWhenOff) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    {
        cli::ProgressBoard board(out, {"/dev/ttyS0", "/dev/ttyUSB10"}, true, 30);
        board.Set(0, "reading the settings back after the restart");
        board.Set(1, "changed");
        board.Set(1, "changed");  // no change, nothing drawn
    }
    std::fclose(out);
    const std::string text(buffer, size);
    std::free(buffer);
    EXPECT_EQ(text,
              "/dev/ttyS0     waiting\n"
              "/dev/ttyUSB10  waiting\n"
              "\x1b[2A\r\x1b[2K/dev/ttyS0     reading the se\x1b[2B\r"
              "\x1b[1A\r\x1b[2K/dev/ttyUSB10  changed\x1b[1B\r");

    out = open_memstream(&buffer, &size);
    {
        cli::ProgressBoard board(out, {"a"}, false, 80);
        board.Set(0, "changed");
    }
    std::fclose(out);
    EXPECT_EQ(size, 0u);
    std::free(buffer);
}

}  // namespace
}  // namespace tessaly
