// tessaly-cli run as a user runs it, against a virtual printer on a
// pseudo-terminal that belongs to the test, so every byte on the wire is seen.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "pty_printer.h"
#include "r3_engine.h"

extern char** environ;

namespace tessaly {
namespace {

using ::testing::HasSubstr;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    bool timedOut = false;
};

// Runs the command line with a hard time limit, collecting both output streams.
Outcome RunCli(const std::vector<std::string>& args, int limitMs = 30000) {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> all{TESSALY_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, TESSALY_CLI, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    Outcome o;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            o.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? o.out : o.err).append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    o.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return o;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> v;
    for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

const std::vector<std::uint8_t> kCheckBytes =
    Bytes({0x1B, 0x40, 0x1B, 0x3D, 0x01, 0x1D, 0x61, 0x00, 0x1D, 0x49, 0x01, 0x1D, 0x49, 0x42});

struct CliOnPty : ::testing::Test {
    sim::PrinterConfig config;
    std::unique_ptr<sim::R3Engine> engine;
    std::unique_ptr<sim::PtyPrinter> printer;

    Outcome Run(std::vector<std::string> args) {
        engine = std::make_unique<sim::R3Engine>(config);
        printer = std::make_unique<sim::PtyPrinter>(*engine);
        EXPECT_TRUE(printer->start()) << printer->error();
        args.insert(args.begin(), {"--port", printer->slavePath()});
        auto o = RunCli(args);
        EXPECT_FALSE(o.timedOut) << "the command line must never hang";
        return o;
    }
    // What the printer received after the connection check.
    std::vector<std::uint8_t> AfterCheck() {
        // The command line may exit before the printer has taken its last bytes.
        printer->waitIdle();
        auto log = engine->receivedLog();
        EXPECT_GE(log.size(), kCheckBytes.size());
        EXPECT_TRUE(std::equal(kCheckBytes.begin(), kCheckBytes.end(), log.begin()));
        return {log.begin() + static_cast<long>(kCheckBytes.size()), log.end()};
    }
};

TEST_F(CliOnPty, CheckPutsTheIdentificationOnTheWire) {
    const auto o = Run({"check"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Information: Printer is connected.\n");
    printer->waitIdle();
    EXPECT_EQ(engine->receivedLog(), kCheckBytes);
}

TEST_F(CliOnPty, SelfTestSendsItsCommandAfterTheCheck) {
    const auto o = Run({"self-test"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(AfterCheck(), Bytes({0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02}));
    EXPECT_EQ(engine->selfTestCount(), 1);
}

TEST_F(CliOnPty, SendWritesTheParsedBytes) {
    EXPECT_EQ(Run({"send", "1D61FF0A"}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x1D, 0x61, 0xFF, 0x0A}));
    EXPECT_EQ(Run({"send", "123"}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x12, 0x03}));
    EXPECT_EQ(Run({"send", "1b 40\n0a"}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x1B, 0x40, 0x0A}));
    EXPECT_EQ(Run({"send", "a", "1b"}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x0A, 0x1B}));
}

TEST_F(CliOnPty, BadHexTextIsRefusedBeforeAnythingIsSent) {
    const auto o = Run({"send", "1b 4g"});
    EXPECT_EQ(o.status, 2);
    EXPECT_THAT(o.err, HasSubstr("'g' at position 5"));
    EXPECT_TRUE(engine->receivedLog().empty());
}

TEST_F(CliOnPty, SendFileWritesItsRawBytes) {
    const auto path = std::filesystem::temp_directory_path() / "tessaly-cli-test.bin";
    std::ofstream(path, std::ios::binary).write("\x1b\x40\x00\xff", 4);
    EXPECT_EQ(Run({"send-file", path.string()}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x1B, 0x40, 0x00, 0xFF}));
    std::filesystem::remove(path);
    const auto missing = Run({"send-file", path.string()});
    EXPECT_EQ(missing.status, 3);
    EXPECT_THAT(missing.err, HasSubstr("Can't open the command file"));
    EXPECT_TRUE(engine->receivedLog().empty());
}

TEST_F(CliOnPty, MisbehavingPrintersEndWithTheirMessage) {
    struct Case {
        sim::FaultMode fault;
        const char* message;
    };
    for (const Case& c :
         {Case{sim::FaultMode::WrongModel,
               "Warning: The connected printer has different device ID."},
          Case{sim::FaultMode::Silence, "Warning: The connected printer has different device ID."},
          Case{sim::FaultMode::WrongNames, "Warning: This printer don't match our company name."},
          Case{sim::FaultMode::EndlessSender, "Warning: The printer keeps sending data."}}) {
        config.fault = c.fault;
        const auto o = Run({"check"});
        EXPECT_EQ(o.status, 1) << sim::FaultModeName(c.fault);
        EXPECT_THAT(o.err, HasSubstr(c.message));
        EXPECT_TRUE(o.out.empty()) << o.out;
    }
}

TEST_F(CliOnPty, GarbageNeverConnectsNorHangs) {
    config.fault = sim::FaultMode::Garbage;
    const auto o = Run({"check"});
    EXPECT_EQ(o.status, 1);
}

TEST(Cli, PortProblemsAndUsage) {
    auto o = RunCli({"--port", "com1", "check"});
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, HasSubstr("Warning: Port Configuration Set Error!"));
    o = RunCli({"--port", "/dev/ttyNoSuchPort9", "check"});
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, HasSubstr("Information: Can't open port and Printer is disconnected"));
    EXPECT_THAT(o.err, HasSubstr("does not exist"));
    EXPECT_EQ(RunCli({"check"}).status, 2);
    EXPECT_EQ(RunCli({"--baud", "1234", "check"}).status, 2);
    EXPECT_EQ(RunCli({"frobnicate"}).status, 2);
    o = RunCli({"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.out, HasSubstr("EXIT STATUS"));
}

TEST(Cli, BuiltInVirtualPrinter) {
    const auto o = RunCli({"--virtual-printer", "send", "1b", "40"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("Printer is connected."));
    EXPECT_THAT(o.out, HasSubstr("Sent 2 bytes."));
}

}  // namespace
}  // namespace tessaly
