// tessaly-cli against a fake R-3 on USB: the printer node is a umockdev pty whose
// other side is served by the virtual printer's engine. Runs under
// umockdev-wrapper; the command line inherits the fake devices.
#include "testbed.h"
// testbed.h first: glib's headers must come before the others.
#include <fnmatch.h>
#include <libudev.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "private_cupsd.h"
#include "program.h"
#include "r3_engine.h"

namespace tessaly {
namespace {

using testing::PrivateCupsd;
using testing::Program;
using testing::Testbed;

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Serves the engine on the test side of a printer node. With replug set, the
// printer is unplugged once the first bytes came in and plugged in again at
// another node, where serving goes on.
class UsbPrinterServer {
  public:
    UsbPrinterServer(Testbed& bed, int fd, bool replug) : bed_(bed), fd_(fd), replug_(replug) {
        thread_ = std::thread([this] { Serve(); });
    }
    // Pulls the printer out for good once it has received this many font bytes.
    UsbPrinterServer(Testbed& bed, int fd, std::uint32_t pullOutAfterFontBytes)
        : bed_(bed), fd_(fd), replug_(false), pullOutAfter_(pullOutAfterFontBytes) {
        thread_ = std::thread([this] { Serve(); });
    }
    ~UsbPrinterServer() {
        stop_ = true;
        thread_.join();
    }
    sim::R3Engine engine;
    std::atomic<bool> replugged{false};
    std::atomic<std::int64_t> pulledOutAt{0};

    // What the printer received last, once it has come in (the command line may have
    // ended before the server read it).
    std::string Tail(std::size_t n, int limitMs = 2000) {
        const auto deadline = NowMs() + limitMs;
        std::string tail;
        do {
            const auto log = engine.receivedLog();
            tail.assign(log.end() - static_cast<long>(std::min(n, log.size())), log.end());
            if (tail.size() == n && tail.back() == '\n') break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (NowMs() < deadline);
        return tail;
    }

  private:
    void Pump(int fd) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
            std::uint8_t buffer[512];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) engine.receive(buffer, static_cast<std::size_t>(n), NowMs());
        }
    }
    void Serve() {
        while (!stop_) {
            Pump(fd_);
            if (replug_ && !replugged && !engine.receivedLog().empty()) {
                // Take what the command line sent so far, then pull the plug.
                for (int i = 0; i < 3; ++i) Pump(fd_);
                testing::UnplugUsbPrinter(bed_, "1-1", "lp0");
                testing::PlugR3(bed_, "1-4", "lp7", "SN123");
                fd_ = bed_.DeviceFd("/dev/usb/lp7");
                replugged = true;
            }
            if (pullOutAfter_ != 0 && pulledOutAt == 0) {
                const auto fonts = engine.fontReceptions();
                if (!fonts.empty() && fonts.back().received >= pullOutAfter_) {
                    // The notices of the node, its interface and its device go
                    // out first; the system stops listing them a little later.
                    pulledOutAt = NowMs();
                    const std::string node = testing::NodeSyspath("1-1", "lp0");
                    const std::string usb = testing::UsbSyspath("1-1");
                    const std::string interface = usb + "/1-1:1.0";
                    for (const auto& path : {node, interface, usb}) bed_.Uevent(path, "remove");
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    for (const auto& path : {node, interface, usb}) bed_.Remove(path);
                }
            }
            engine.tick(NowMs());
            std::uint8_t out[512];
            const std::size_t n = engine.takeOutput(out, sizeof out, NowMs());
            if (n > 0) [[maybe_unused]]
                const ssize_t w = write(fd_, out, n);
        }
    }

    Testbed& bed_;
    int fd_;
    bool replug_;
    std::uint32_t pullOutAfter_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct CliOnUsb : ::testing::Test {
    Testbed bed;
    void SetUp() override {
        bed.Add(testing::UsbPrinter("1-1", "lp0", "2e9b", "0006", "SN123"));
        bed.Add(testing::UsbPrinter("1-2", "lp1", "04b8", "0202", "OTHER1"));
    }
    Program::Outcome Run(const std::vector<std::string>& args, int limitMs = 30000) {
        Program cli(TESSALY_CLI, args);
        EXPECT_TRUE(cli.started());
        auto outcome = cli.Wait(limitMs);
        EXPECT_FALSE(outcome.timedOut) << "the command line must never hang";
        return outcome;
    }
};

TEST_F(CliOnUsb, PortsListsTheR3AndNotThePrinterOfAnotherMake) {
    const auto o = Run({"ports"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("R-3:/dev/usb/lp0"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("usb"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("lp1"), std::string::npos) << o.out;
}

TEST_F(CliOnUsb, TheListedPortTalksToThePrinter) {
    UsbPrinterServer printer(bed, bed.DeviceFd("/dev/usb/lp0"), false);
    const auto o = Run({"--port", "R-3:/dev/usb/lp0", "send", "41 42 0a"});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(printer.Tail(3), "AB\n");
}

TEST_F(CliOnUsb, AnUnplugAndReplugInTheMiddleOfASessionIsSurvived) {
    UsbPrinterServer printer(bed, bed.DeviceFd("/dev/usb/lp0"), true);
    const auto o = Run({"--port", "R-3:/dev/usb/lp0", "send", "41 42 0a"});
    EXPECT_TRUE(printer.replugged);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(printer.Tail(3), "AB\n");
}

// The print system's usb back end can take the printer away in the middle of an
// exchange: its queues are paused while the printer is in use.
TEST_F(CliOnUsb, TheQueuesOfThisPrinterArePausedDuringAUsbExchangeAndActiveAfterwards) {
    PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Ready()) << "the private cupsd did not start";
    ASSERT_TRUE(PrivateCupsd::AddQueue("r3", "usb://Vantreel/R-3?serial=SN123"));
    ASSERT_TRUE(PrivateCupsd::AddQueue("node", "parallel:/dev/usb/lp0"));
    ASSERT_TRUE(PrivateCupsd::AddQueue("another", "usb://Other/Printer?serial=OTHER1"));

    // Nobody answers on the node: the connection check waits for its replies.
    Program silent(TESSALY_CLI, {"--port", "R-3:/dev/usb/lp0", "check"});
    ASSERT_TRUE(silent.started());
    bool seenPaused = false;
    for (int i = 0; i < 100 && !seenPaused; ++i) {
        seenPaused = PrivateCupsd::Paused("r3") && PrivateCupsd::Paused("node");
        if (!seenPaused) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(PrivateCupsd::Paused("another"));
    const auto failed = silent.Wait(30000);
    EXPECT_TRUE(seenPaused) << failed.err;
    EXPECT_NE(failed.status, 0);
    EXPECT_FALSE(PrivateCupsd::Paused("r3"));
    EXPECT_FALSE(PrivateCupsd::Paused("node"));

    UsbPrinterServer printer(bed, bed.DeviceFd("/dev/usb/lp0"), false);
    const auto sent = Run({"--port", "R-3:/dev/usb/lp0", "send", "41 42 0a"});
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(printer.Tail(3), "AB\n");
    for (const char* queue : {"r3", "node", "another"})
        EXPECT_FALSE(PrivateCupsd::Paused(queue)) << queue;
}

// The printer is pulled out (node, interface and device removed, with their
// notices) while font blocks flow: the download must end as a failure within a
// few seconds, not write on into the void and report success.
TEST_F(CliOnUsb, PullingThePrinterOutDuringAFontDownloadFailsIt) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("cli-usb-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string kor = (dir / "kor.sts").string();
    {
        // Buyer set KOR: switch 12 = 1, list entry 2 (the last of 64 integers).
        std::vector<std::int32_t> image(64, 0);
        image[6 * 9 + 1] = 1;
        image[63] = 2;
        std::ofstream out(kor, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size() * sizeof(std::int32_t)));
    }
    UsbPrinterServer printer(bed, bed.DeviceFd("/dev/usb/lp0"), 20000u);
    const auto o = Run({"--yes", "--port", "R-3:/dev/usb/lp0", "set-status", kor}, 90000);
    const std::int64_t endedAt = NowMs();
    std::filesystem::remove_all(dir);

    ASSERT_NE(printer.pulledOutAt, 0) << o.out << o.err;
    EXPECT_NE(o.status, 0);
    EXPECT_NE(o.err.find("Fail to download Font!"), std::string::npos) << o.out << o.err;
    EXPECT_EQ(o.out.find("Success to Download Font"), std::string::npos) << o.out;
    EXPECT_LT(endedAt - printer.pulledOutAt, 8000) << "the failure comes within seconds";
    const auto fonts = printer.engine.fontReceptions();
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_LT(fonts[0].received, fonts[0].expected);
}

struct TempDir {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("cli-usb-" + std::to_string(::getpid()));
    TempDir() { std::filesystem::create_directories(path); }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name) << text;
        return (path / name).string();
    }
};

TEST_F(CliOnUsb, AllR3AppliesToEveryR3OnUsbAndToNoOtherPrinter) {
    bed.Add(testing::UsbPrinter("1-3", "lp2", "2e9b", "0006", "SN456"));
    UsbPrinterServer first(bed, bed.DeviceFd("/dev/usb/lp0"), false);
    UsbPrinterServer second(bed, bed.DeviceFd("/dev/usb/lp2"), false);
    second.engine.setMemorySwitch(10, 0x10);  // already on the profile
    TempDir dir;
    const auto o =
        Run({"apply", "--all-r3", "--json", dir.Write("wide.toml", "paper_width = \"2 Inch\"\n")},
            120000);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    std::map<std::string, nlohmann::json> lines;
    std::istringstream in(o.out);
    for (std::string line; std::getline(in, line);) {
        const auto j = nlohmann::json::parse(line);
        lines[j.contains("port") ? j["port"].get<std::string>() : "summary"] = j;
    }
    ASSERT_EQ(lines.size(), 3u) << o.out;
    EXPECT_TRUE(lines.at("R-3:/dev/usb/lp0")["changed"]);
    EXPECT_FALSE(lines.at("R-3:/dev/usb/lp2")["changed"]);
    EXPECT_EQ(lines.at("summary")["summary"]["printers"], 2);
    EXPECT_EQ(first.engine.memorySwitch(10), 0x10);
}

// The parts of a udev rule line: matches (KEY=="v", KEY{attr}=="v") and
// assignments (KEY+="v", KEY{name}+="v").
struct RuleKey {
    std::string key, attribute, op, value;
};

std::vector<RuleKey> ParseRule(const std::string& line) {
    static const std::regex kKey(R"re(([A-Z]+)(\{([^}]*)\})?(==|!=|\+=|=)"([^"]*)")re");
    std::vector<RuleKey> keys;
    for (std::sregex_iterator it(line.begin(), line.end(), kKey), end; it != end; ++it)
        keys.push_back({(*it)[1], (*it)[3], (*it)[4], (*it)[5]});
    return keys;
}

// Whether a rule matches an "add" of the device as udev evaluates it: KERNEL and
// SUBSYSTEM on the device itself, ATTRS on the device or any parent, shell
// patterns in the values. Fills what the rule then assigns, with %k expanded.
bool RuleMatches(const std::vector<RuleKey>& rule, udev_device* device,
                 std::map<std::string, std::string>& assigned) {
    auto glob = [](const std::string& pattern, const char* text) {
        return text != nullptr && fnmatch(pattern.c_str(), text, 0) == 0;
    };
    for (const RuleKey& k : rule) {
        if (k.op != "==") continue;
        bool ok = false;
        if (k.key == "ACTION") ok = glob(k.value, "add");
        if (k.key == "SUBSYSTEM") ok = glob(k.value, udev_device_get_subsystem(device));
        if (k.key == "KERNEL") ok = glob(k.value, udev_device_get_sysname(device));
        if (k.key == "ATTRS") {
            for (udev_device* d = device; d != nullptr && !ok; d = udev_device_get_parent(d))
                ok = glob(k.value, udev_device_get_sysattr_value(d, k.attribute.c_str()));
        }
        if (!ok) return false;
    }
    for (const RuleKey& k : rule) {
        if (k.op == "==") continue;
        const std::string value =
            std::regex_replace(k.value, std::regex("%k"), udev_device_get_sysname(device));
        assigned[k.key + (k.attribute.empty() ? "" : "{" + k.attribute + "}")] = value;
    }
    return true;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST_F(CliOnUsb, ThePlugInRuleStartsTheUnitForTheR3AndTheUnitsCommandApplies) {
    std::string ruleLine;
    std::istringstream rules(ReadText(TESSALY_APPLY_RULES));
    for (std::string line; std::getline(rules, line);) {
        if (!line.empty() && line[0] != '#') ruleLine = line;
    }
    const auto rule = ParseRule(ruleLine);
    ASSERT_GE(rule.size(), 6u) << ruleLine;

    std::map<std::string, std::map<std::string, std::string>> started;
    udev* u = udev_new();
    udev_enumerate* e = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(e, "usbmisc");
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
        udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
        std::map<std::string, std::string> assigned;
        if (RuleMatches(rule, d, assigned)) started[udev_device_get_sysname(d)] = assigned;
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    udev_unref(u);
    ASSERT_EQ(started.size(), 1u) << "the R-3 only, not the printer of another make";
    ASSERT_TRUE(started.count("lp0"));
    EXPECT_EQ(started["lp0"]["ENV{SYSTEMD_WANTS}"], "tessaly-apply@lp0.service");
    EXPECT_EQ(started["lp0"]["TAG"], "systemd");

    // The unit as installed, with this build's tessaly-cli; systemd's own parser
    // finds nothing wrong with it.
    TempDir dir;
    std::string unit = std::regex_replace(ReadText(TESSALY_APPLY_UNIT),
                                          std::regex("@TESSALY_CLI_PATH@"), TESSALY_CLI);
    dir.Write("tessaly-apply@.service", unit);
    Program verify("/usr/bin/systemd-analyze",
                   {"verify", (dir.path / "tessaly-apply@lp0.service").string()});
    const auto verified = verify.Wait(30000);
    EXPECT_EQ(verified.status, 0) << verified.err;
    EXPECT_EQ(verified.err, "");

    // Its command line, for the instance the rule starts, with a profile of ours
    // in place of /etc/tessaly/profile.toml.
    std::smatch exec;
    ASSERT_TRUE(std::regex_search(unit, exec, std::regex("ExecStart=(.*)")));
    const std::string command =
        std::regex_replace(std::regex_replace(exec[1].str(), std::regex("%[Ii]"), "lp0"),
                           std::regex("/etc/tessaly/profile.toml"),
                           dir.Write("profile.toml", "auto_cutter = \"Full Cut\"\n"));
    std::vector<std::string> words;
    std::istringstream split(command);
    for (std::string w; split >> w;) words.push_back(w);
    UsbPrinterServer printer(bed, bed.DeviceFd("/dev/usb/lp0"), false);
    const auto o = Run(std::vector<std::string>(words.begin() + 1, words.end()), 120000);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("R-3:/dev/usb/lp0: changed"), std::string::npos) << o.out;
    EXPECT_EQ(printer.engine.memorySwitch(2) & 0x02, 0x02);
}

}  // namespace
}  // namespace tessaly
