// Runs the r3-sim program as a user would: start it, talk to its terminal, stop it
// with a signal. Every wait is bounded so a broken build cannot hang the suite.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Steady = std::chrono::steady_clock;
using ::testing::HasSubstr;

class Program {
  public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), R3_SIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, R3_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }

    // Reads stdout until it contains `until` or the deadline passes.
    std::string readUntil(const std::string& until, int deadlineMs = 5000) {
        const auto end = Steady::now() + std::chrono::milliseconds(deadlineMs);
        while (output_.find(until) == std::string::npos && Steady::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buffer[4096];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) break;
            output_.append(buffer, static_cast<std::size_t>(n));
        }
        return output_;
    }

    // Signals the program and waits (bounded) for its exit status; -1 if it hung.
    int stop(int sig = SIGTERM) {
        kill(pid_, sig);
        return waitExit();
    }
    int waitExit(int deadlineMs = 5000) {
        const auto end = Steady::now() + std::chrono::milliseconds(deadlineMs);
        while (Steady::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                readUntil("\x01", 200);  // collect what is left
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    bool started() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

std::vector<std::uint8_t> Query(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                std::size_t want) {
    std::vector<std::uint8_t> got;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return got;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    if (write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())) {
        const auto end = Steady::now() + std::chrono::seconds(2);
        while (got.size() < want && Steady::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            std::uint8_t buffer[64];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
    }
    close(fd);
    return got;
}

TEST(R3SimProgram, ServesOnItsLinkAndRemovesItOnSigterm) {
    const auto link =
        std::filesystem::temp_directory_path() / ("r3-sim-link-" + std::to_string(getpid()));
    std::filesystem::remove(link);
    Program sim({"--quiet", "--link", link.string(), "--printer-name", "Vantreel R-3 Test"});
    ASSERT_TRUE(sim.started());
    const std::string first = sim.readUntil("\n");
    ASSERT_THAT(first, HasSubstr("/dev/pts/"));
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Query(link.string(), {0x1D, 0x49, 0x01}, 1), std::vector<std::uint8_t>{0x20});
    const auto name = Query(link.string(), {0x1D, 0x49, 0x43}, 19);
    EXPECT_EQ(std::string(name.begin(), name.end()), std::string("_Vantreel R-3 Test\0", 19));
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(R3SimProgram, PrintsDecodedCommandsAndPaperUntilSigint) {
    Program sim({"--switch", "12=00000001"});
    ASSERT_TRUE(sim.started());
    std::string out = sim.readUntil("fault none");
    const std::string path = out.substr(0, out.find('\n'));
    const std::vector<std::uint8_t> bytes{'H', 'i', 0x0A, 0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x0C};
    EXPECT_EQ(Query(path, bytes, 11).size(), 11u);
    out = sim.readUntil("read memory switch 12");
    EXPECT_EQ(sim.stop(SIGINT), 0);
    out = sim.readUntil("stopped");
    EXPECT_THAT(out, HasSubstr("rx 48 69 0a 1d 28"));
    EXPECT_THAT(out, HasSubstr("| Hi"));
    EXPECT_THAT(out, HasSubstr("tx 37 21 30 30 30 30 30 30 30 31 00"));
}

TEST(R3SimProgram, FaultOptionsReachThePrinter) {
    // The read of switch 10 goes unanswered; switch 11 is answered as usual.
    Program silent({"--quiet", "--fault", "no-switch-answer", "--silent-switch", "10"});
    ASSERT_TRUE(silent.started());
    std::string path = silent.readUntil("\n");
    path = path.substr(0, path.find('\n'));
    EXPECT_TRUE(Query(path, {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 10}, 11).empty());
    EXPECT_EQ(Query(path, {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 11}, 11).size(), 11u);
    EXPECT_EQ(silent.stop(), 0);

    // IN is answered, the next byte hangs the line up and the program ends.
    Program hangUp({"--fault", "hang-up-after-in"});
    ASSERT_TRUE(hangUp.started());
    path = hangUp.readUntil("\n");
    path = path.substr(0, path.find('\n'));
    EXPECT_EQ(Query(path, {0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E}, 3),
              (std::vector<std::uint8_t>{0x37, 0x20, 0x00}));
    Query(path, {0x1B, 0x40}, 0);
    EXPECT_EQ(hangUp.waitExit(), 0);
    EXPECT_THAT(hangUp.readUntil("link dropped"), HasSubstr("link dropped"));
}

TEST(R3SimProgram, RejectsBadOptionsWithUsageStatus) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--fault", "sometimes"},
                                                                  {"--model", "300"},
                                                                  {"--switch", "2=0101"},
                                                                  {"--bogus"},
                                                                  {"--set", "paper=wet"},
                                                                  {"--tcp", "99999"},
                                                                  {"--job-gap", "0"}}) {
        Program sim(args);
        ASSERT_TRUE(sim.started());
        EXPECT_EQ(sim.waitExit(), 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    }
}

// A socket client as a point-of-sale program on the network is one.
std::vector<std::uint8_t> SendTcp(int port, const std::vector<std::uint8_t>& bytes,
                                  std::size_t want) {
    std::vector<std::uint8_t> got;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
        const auto end = Steady::now() + std::chrono::seconds(3);
        while (got.size() < want && Steady::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            std::uint8_t buffer[64];
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            got.insert(got.end(), buffer, buffer + n);
        }
    }
    close(fd);
    return got;
}

std::string ControlCommand(const std::string& path, const std::string& line) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd, line.data(), line.size(), MSG_NOSIGNAL) > 0) {
        char c = 0;
        while (recv(fd, &c, 1, 0) == 1 && c != '\n') answer.push_back(c);
    }
    close(fd);
    return answer;
}

TEST(R3SimProgram, PrintsReceiptsFromTheNetworkIntoThePaperFolder) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("r3-sim-paper-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    const std::string control = (dir.string() + ".ctl");
    Program sim({"--quiet", "--tcp", "0", "--paper", (dir / "out").string(), "--control", control,
                 "--set", "paper=near-end"});
    ASSERT_TRUE(sim.started());
    const std::string out = sim.readUntil("\ntcp ");
    const std::string tcp = sim.readUntil("\n", 5000).substr(out.find("tcp "));
    const int port = std::stoi(tcp.substr(tcp.rfind(':') + 1));

    // The condition given at start answers; the control socket changes it.
    EXPECT_EQ(SendTcp(port, {0x10, 0x04, 0x04}, 1), std::vector<std::uint8_t>{0x1E});
    EXPECT_EQ(ControlCommand(control, "paper ok\n"),
              "ok paper=ok cover=closed drawer=closed online error=none");
    EXPECT_EQ(SendTcp(port, {0x10, 0x04, 0x04}, 1), std::vector<std::uint8_t>{0x12});

    std::vector<std::uint8_t> receipt = {'T', 'h', 'a', 'n', 'k', 's', '\n'};
    receipt.insert(receipt.end(), {0x1D, 'V', 0x00});
    SendTcp(port, receipt, 0);
    const auto json = dir / "out" / "0001.json";
    for (int i = 0; i < 100 && !std::filesystem::exists(json); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::filesystem::exists(json));
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "0001.png"));
    std::ifstream text(dir / "out" / "0001.txt");
    std::string first;
    std::getline(text, first);
    EXPECT_EQ(first, "Thanks");

    EXPECT_EQ(sim.stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(control)) << "the control socket is removed";
    std::filesystem::remove_all(dir);
}

TEST(R3SimProgram, APaperFolderThatIsAFileIsRefused) {
    const auto file =
        std::filesystem::temp_directory_path() / ("r3-sim-file-" + std::to_string(getpid()));
    std::ofstream(file) << "x";
    Program sim({"--paper", file.string()});
    ASSERT_TRUE(sim.started());
    EXPECT_EQ(sim.waitExit(), 1);
    std::filesystem::remove(file);
}

}  // namespace
