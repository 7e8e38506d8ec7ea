// Real receipt printer client libraries from the npm registry (an ESC/POS
// encoder and a full printer driver, installed in this folder by
// scripts/install-deps.sh test) print receipts to r3-sim over TCP. Each receipt
// must come out whole: its text decoded from the code page, no stray text, the
// bar code and QR code data in the JSON, the logo at its size, a picture like
// the golden one, and the printer still in step for tessaly-cli check.
#include <fcntl.h>
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "program.h"
#include "renderer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using ::testing::Contains;
using ::testing::HasSubstr;

// r3-sim with a TCP port and a paper folder, its output in a file.
class Simulator {
  public:
    explicit Simulator(const fs::path& dir) : dir_(dir) {
        fs::create_directories(dir_);
        const std::string log = (dir_ / "r3-sim.log").string();
        std::vector<std::string> args = {R3_SIM_PATH, "--quiet", "--tcp",
                                         "0",         "--paper", (dir_ / "paper").string()};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (posix_spawn(&pid_, R3_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        // First line: the terminal; second: "tcp 127.0.0.1:PORT".
        for (int i = 0; i < 100 && port_ == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::ifstream in(log);
            std::getline(in, terminal_);
            std::string tcp;
            if (std::getline(in, tcp) && tcp.rfind("tcp ", 0) == 0) {
                port_ = std::stoi(tcp.substr(tcp.rfind(':') + 1));
            }
        }
    }
    ~Simulator() { stop(); }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    int port() const { return port_; }
    const std::string& terminal() const { return terminal_; }
    // The jobs written so far, waiting up to ms for at least `want`.
    std::vector<Json> jobs(std::size_t want, int ms = 10000) const {
        std::vector<Json> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            out.clear();
            for (int n = 1; fs::exists(file(n, "json")); ++n) {
                std::ifstream in(file(n, "json"));
                out.push_back(Json::parse(in));
            }
            if (out.size() >= want || std::chrono::steady_clock::now() > end) return out;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    fs::path file(int n, const char* ext) const {
        return dir_ / "paper" / fmt::format("{:04d}.{}", n, ext);
    }

  private:
    fs::path dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string terminal_;
};

class Interop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(fs::path(INTEROP_DIR) / "node_modules" / "node-thermal-printer")) {
            GTEST_FAIL()
                << "the client libraries are not installed: run scripts/install-deps.sh test";
        }
        dir_ = fs::temp_directory_path() /
               ("r3-interop-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        sim_ = std::make_unique<Simulator>(dir_);
        ASSERT_GT(sim_->port(), 0) << "r3-sim did not start";
    }
    void TearDown() override {
        sim_.reset();
        if (!HasFailure()) fs::remove_all(dir_);
    }

    void Print(const std::string& script, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {(fs::path(INTEROP_DIR) / script).string(),
                                         std::to_string(sim_->port())};
        args.insert(args.end(), extra.begin(), extra.end());
        tessaly::testing::Program node(NODE_PATH, args);
        const auto o = node.Wait(60000);
        ASSERT_EQ(o.status, 0) << o.err;
    }

    // The one job the receipt made, checked line by line.
    Json CheckReceipt(const std::string& golden) {
        auto jobs = sim_->jobs(1);
        EXPECT_EQ(jobs.size(), 1u) << "one receipt, one job";
        if (jobs.empty()) return {};
        const Json& job = jobs[0];
        EXPECT_EQ(job["paper"]["widthDots"], 576);
        EXPECT_EQ(job["endedBy"], "cut");
        EXPECT_TRUE(job["unknownCommands"].empty()) << job["unknownCommands"];

        // Every line is one the receipt printed, or a marker: nothing stray.
        std::vector<std::string> text;
        for (const auto& line : job["text"]) {
            std::string t = line;
            t.erase(0, t.find_first_not_of(' '));
            t.erase(t.find_last_not_of(' ') + 1);
            text.push_back(t);
        }
        for (const auto& t : text) {
            const bool known = t.empty() || t.front() == '[' || t == "VANTREEL CAFE" ||
                               t == "MEMBER 4711" || t.rfind("Café crème", 0) == 0 ||
                               t.rfind("Croissant", 0) == 0 || t == "--- full cut ---";
            EXPECT_TRUE(known) << "stray text on the paper: '" << t << "'";
        }
        EXPECT_THAT(text, Contains("VANTREEL CAFE"));
        EXPECT_THAT(text, Contains(::testing::MatchesRegex("Café crème +2,40 €")));
        EXPECT_THAT(text, Contains(::testing::MatchesRegex("Croissant +1,90 €")));

        bool barcode = false, qr = false, pulse = false;
        for (const auto& e : job["elements"]) {
            if (e["type"] == "barcode") {
                barcode = true;
                EXPECT_EQ(e["symbology"], "EAN13");
                EXPECT_EQ(e["data"].get<std::string>().substr(0, 12), "590123412345");
                EXPECT_TRUE(e["printed"]) << e;
            }
            if (e["type"] == "2d") {
                qr = true;
                EXPECT_EQ(e["symbology"], "QR");
                EXPECT_EQ(e["data"], "https://example.com/receipt/42");
                EXPECT_TRUE(e["printed"]) << e;
            }
            if (e["type"] == "pulse") pulse = true;
            if (e["type"] == "line" && e.contains("runs")) {
                for (const auto& run : e["runs"]) {
                    if (run["text"].get<std::string>().find("VANTREEL") != std::string::npos) {
                        EXPECT_EQ(run["width"], 2) << "the shop name is printed wide";
                    }
                }
            }
        }
        EXPECT_TRUE(barcode);
        EXPECT_TRUE(qr);
        EXPECT_TRUE(pulse);

        // Looks like the golden picture, give or take a dot here and there.
        tessaly::sim::Canvas got, expected;
        std::string error;
        EXPECT_TRUE(tessaly::sim::ReadPng(sim_->file(1, "png").string(), got, error)) << error;
        const std::string goldenPath = std::string(GOLDEN_DIR) + "/" + golden;
        if (std::getenv("R3_UPDATE_GOLDEN") != nullptr)
            fs::copy_file(sim_->file(1, "png"), goldenPath, fs::copy_options::overwrite_existing);
        EXPECT_TRUE(tessaly::sim::ReadPng(goldenPath, expected, error)) << error;
        if (got.width == expected.width &&
            std::abs(got.height - expected.height) <= expected.height / 50) {
            std::size_t differ = 0;
            const int h = std::min(got.height, expected.height);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < got.width; ++x) differ += got.at(x, y) != expected.at(x, y);
            EXPECT_LE(static_cast<double>(differ) / (got.width * h), 0.01)
                << differ << " dots differ";
        } else {
            ADD_FAILURE() << "size " << got.width << "x" << got.height << ", golden "
                          << expected.width << "x" << expected.height;
        }
        return job;
    }

    // The printer answers the utility's connection check afterwards.
    void ExpectStillInStep() {
        tessaly::testing::Program cli(TESSALY_CLI, {"--port", sim_->terminal(), "check"});
        const auto o = cli.Wait(30000);
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        EXPECT_THAT(o.out, HasSubstr("Printer is connected."));
    }

    fs::path dir_;
    std::unique_ptr<Simulator> sim_;
};

// The 512 x 200 logo, printed as one picture.
void ExpectLogo(const Json& job) {
    int logos = 0;
    for (const auto& e : job["elements"]) {
        if (e["type"] != "image") continue;
        ++logos;
        EXPECT_EQ(e["width"], 512);
        EXPECT_EQ(e["height"], 200);
        EXPECT_EQ(e["source"], "GS v 0");
    }
    EXPECT_EQ(logos, 1);
}

TEST_F(Interop, EncoderLibraryWithARasterLogo) {
    Print("encoder-receipt.cjs", {"raster"});
    ExpectLogo(CheckReceipt("interop-encoder-raster.png"));
    ExpectStillInStep();
}

TEST_F(Interop, EncoderLibraryWithAColumnLogo) {
    Print("encoder-receipt.cjs", {"column"});
    const Json job = CheckReceipt("interop-encoder-column.png");
    int strips = 0;
    for (const auto& e : job["elements"]) {
        if (e["type"] == "line" && e.contains("images")) {
            ++strips;
            EXPECT_EQ(e["images"][0]["width"], 512);
            EXPECT_EQ(e["feed"], 24) << "strips follow each other without gaps";
        }
    }
    EXPECT_EQ(strips, 9) << "200 dots in strips of 24";
    ExpectStillInStep();
}

TEST_F(Interop, DriverLibraryOverItsOwnNetworkInterface) {
    Print("driver-receipt.cjs");
    const Json job = CheckReceipt("interop-driver.png");
    ExpectLogo(job);
    for (const auto& e : job["elements"]) {
        if (e["type"] == "barcode") {
            EXPECT_EQ(e["hri"], "5901234123457");
        }
    }
    ExpectStillInStep();
}

}  // namespace
