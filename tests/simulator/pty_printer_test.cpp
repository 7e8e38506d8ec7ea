#include "pty_printer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "printer_port.h"
#include "reply_bytes.h"

namespace tessaly::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Steady = std::chrono::steady_clock;
using testing::Framed;

// A client of the terminal, opened raw like a serial port would be.
class Client {
  public:
    explicit Client(const std::string& path, speed_t speed = B19200) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios tio{};
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            cfsetspeed(&tio, speed);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Client() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool send(const Bytes& bytes) {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Writes everything, waiting while the terminal is full; false after 5 s.
    bool sendAll(const Bytes& bytes) {
        std::size_t at = 0;
        const auto end = Steady::now() + std::chrono::seconds(5);
        while (at < bytes.size() && Steady::now() < end) {
            const ssize_t n = ::write(fd_, bytes.data() + at, bytes.size() - at);
            if (n > 0) {
                at += static_cast<std::size_t>(n);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return at == bytes.size();
    }

    // Reads until `want` bytes arrived or the deadline passed; never blocks longer.
    Bytes receive(std::size_t want, int deadlineMs = 2000) {
        Bytes out;
        const auto end = Steady::now() + std::chrono::milliseconds(deadlineMs);
        while (out.size() < want) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Steady::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
            if (p.revents & (POLLHUP | POLLERR)) {
                hungUp_ = true;
                break;
            }
            std::uint8_t buffer[256];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, want - out.size()));
            if (n <= 0) {
                hungUp_ = n < 0 && errno == EIO;
                if (hungUp_) break;
                continue;
            }
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    bool hungUp() const { return hungUp_; }

  private:
    int fd_ = -1;
    bool hungUp_ = false;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(PtyPrinter, AnswersQueriesOverTheTerminal) {
    R3Engine engine;
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    Client client(printer.slavePath());
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(client.send({0x1B, 0x40, 0x1D, 0x49, 0x01}));
    EXPECT_EQ(client.receive(1), Bytes{0x20});
    ASSERT_TRUE(client.send({0x1D, 0x49, 0x42}));
    EXPECT_EQ(client.receive(27), Framed("Vantreel Druckwerken GmbH"));
    printer.stop();
    EXPECT_FALSE(printer.running());
}

TEST(PtyPrinter, TheUtilitysSerialPortTalksToIt) {
    // The product's own serial port (exclusive open, line settings, no DSR test on
    // a pty, purge on open, windowed reads) against the server, in real time.
    R3Engine engine;
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    for (int round = 0; round < 2; ++round) {
        PrinterPort port;
        PortSettings settings;
        settings.portName = printer.slavePath();
        ASSERT_TRUE(port.Setup(settings)) << port.LastError();
        ASSERT_TRUE(port.Open(0)) << port.LastError();
        const std::uint8_t query[] = {0x1B, 0x40, 0x1D, 0x49, 0x01, 0x1D, 0x49, 0x42};
        ASSERT_EQ(port.Write(query, sizeof query), sizeof query);
        std::uint8_t reply[40] = {};
        std::uint32_t got = 0;
        for (int i = 0; i < 20 && got < 28; ++i) got += port.Read(reply + got, 28 - got, 1000);
        EXPECT_EQ(Bytes(reply, reply + got),
                  Concat({Bytes{0x20}, Framed("Vantreel Druckwerken GmbH")}));
        port.Close();
    }
}

TEST(PtyPrinter, ServesOneClientAfterAnother) {
    R3Engine engine;
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    {
        Client first(printer.slavePath());
        ASSERT_TRUE(first.send({0x1D, 0x49, 0x01}));
        EXPECT_EQ(first.receive(1), Bytes{0x20});
    }
    // The first client has closed: the terminal must still work for the next one.
    Client second(printer.slavePath());
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(second.send({0x1D, 0x49, 0x43}));
    EXPECT_EQ(second.receive(14), Framed("Vantreel R-3"));
}

TEST(PtyPrinter, WaitIdleSeesEverythingAClientWroteBeforeExiting) {
    R3Engine engine;
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    Bytes expected;
    for (int round = 0; round < 20; ++round) {
        Bytes chunk(100 + static_cast<std::size_t>(round) * 97,
                    static_cast<std::uint8_t>('a' + round));
        chunk.push_back('\n');
        {
            Client client(printer.slavePath());
            ASSERT_TRUE(client.send(chunk));
        }
        expected.insert(expected.end(), chunk.begin(), chunk.end());
        ASSERT_TRUE(printer.waitIdle());
        ASSERT_EQ(engine.receivedLog().size(), expected.size()) << "round " << round;
    }
    EXPECT_EQ(engine.receivedLog(), expected);
}

TEST(PtyPrinter, LateRepliesArriveAfterTheirDelayInRealTime) {
    PrinterConfig config;
    config.fault = FaultMode::LateReplies;
    config.replyDelayMs = 300;
    R3Engine engine(config);
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    Client client(printer.slavePath());
    const auto start = Steady::now();
    ASSERT_TRUE(client.send({0x1D, 0x49, 0x01}));
    EXPECT_TRUE(client.receive(1, 150).empty());
    EXPECT_EQ(client.receive(1, 2000), Bytes{0x20});
    EXPECT_GE(Steady::now() - start, std::chrono::milliseconds(290));
}

TEST(PtyPrinter, ClientAtTheWrongSpeedGetsNoSenseWhenLinesAreChecked) {
    PrinterConfig config;
    config.checkLineSettings = true;
    R3Engine engine(config);
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    {
        Client slow(printer.slavePath(), B9600);
        ASSERT_TRUE(slow.send({0x1D, 0x49, 0x42}));
        const Bytes got = slow.receive(27, 300);
        EXPECT_NE(got, Framed("Vantreel Druckwerken GmbH"));
    }
    Client right(printer.slavePath(), B19200);
    ASSERT_TRUE(right.send({0x1B, 0x40, 0x1D, 0x49, 0x42}));
    EXPECT_EQ(right.receive(27), Framed("Vantreel Druckwerken GmbH"));
}

TEST(PtyPrinter, LinkIsMadeAndRemoved) {
    const auto link =
        std::filesystem::temp_directory_path() / ("r3-link-" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    R3Engine engine;
    {
        PtyPrinter printer(engine, {.linkPath = link.string()});
        ASSERT_TRUE(printer.start()) << printer.error();
        ASSERT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(std::filesystem::read_symlink(link), printer.slavePath());
        Client client(link.string());
        ASSERT_TRUE(client.send({0x1D, 0x49, 0x01}));
        EXPECT_EQ(client.receive(1), Bytes{0x20});
    }  // destructor stops
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(PtyPrinter, RefusesToReplaceAFileWithItsLink) {
    const auto file =
        std::filesystem::temp_directory_path() / ("r3-file-" + std::to_string(::getpid()));
    {
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    R3Engine engine;
    PtyPrinter printer(engine, {.linkPath = file.string()});
    EXPECT_FALSE(printer.start());
    EXPECT_FALSE(printer.error().empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(file));
    std::filesystem::remove(file);
}

TEST(PtyPrinter, DroppedLinkHangsUpTheClient) {
    PrinterConfig config;
    config.fault = FaultMode::Disconnect;
    config.disconnectAfterBytes = 3;
    R3Engine engine(config);
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    Client client(printer.slavePath());
    ASSERT_TRUE(client.send({0x1D, 0x49, 0x01, 0x1D, 0x49, 0x42}));
    const Bytes got = client.receive(1, 2000);
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(client.hungUp());
    EXPECT_TRUE(printer.linkDropped());
}

TEST(PtyPrinter, HangUpAfterInAnswersInThenHangsUpAtTheNextWrite) {
    PrinterConfig config;
    config.fault = FaultMode::HangUpAfterIn;
    R3Engine engine(config);
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    Client client(printer.slavePath());
    ASSERT_TRUE(client.send({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E}));
    EXPECT_EQ(client.receive(3), (Bytes{0x37, 0x20, 0x00}));
    client.send({0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, 0x08});
    EXPECT_TRUE(client.receive(1, 2000).empty());
    EXPECT_TRUE(client.hungUp());
    EXPECT_FALSE(client.send({0x1B, 0x40})) << "a hung-up line takes no more writes";
}

TEST(PtyPrinter, StalledPrinterLeavesTheClientsBytesWaitingThenTakesThem) {
    PrinterConfig config;
    config.fault = FaultMode::PartialWrite;
    config.stallAfterBytes = 4;
    config.stallMs = 300;
    R3Engine engine(config);
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    Client client(printer.slavePath());
    ASSERT_TRUE(client.send({'a', 'b', 'c', 'd', 'e', 'f', '\n'}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(engine.receivedLog().size(), 4u);
    EXPECT_FALSE(printer.waitIdle(50)) << "the rest is not taken yet";
    ASSERT_TRUE(printer.waitIdle(2000));
    EXPECT_EQ(engine.receivedLog().size(), 7u);
    EXPECT_EQ(engine.paper().back(), "abcdef");
}

// A program that opens the port per receipt and flushes it on open loses
// nothing the one before it wrote, even while the printer holds its input (paper
// out): the printer reads the terminal ahead into its own memory, where no
// flush reaches.
TEST(PtyPrinter, AFlushOnOpenLosesNothingThePrinterHoldsBack) {
    PrinterConfig config;
    config.conditions.paper = Conditions::Paper::End;
    config.inputBufferBytes = 100;
    config.keepJobs = true;
    R3Engine engine(config);
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    Bytes receipt(12000, 0x00);  // more than the terminal keeps for its reader
    receipt.insert(receipt.end(), {'e', 'n', 'd', '\n', 0x1D, 0x56, 0x00});
    {
        Client first(printer.slavePath());
        ASSERT_TRUE(first.sendAll(receipt)) << "the printer reads ahead: the client is not held";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    Client next(printer.slavePath());
    ASSERT_TRUE(next.ok());
    tcflush(next.fd(), TCIOFLUSH);
    engine.setCondition("paper ok", SystemClock::instance().now());
    ASSERT_TRUE(printer.waitIdle(5000));
    const auto jobs = engine.takeJobs();
    ASSERT_EQ(jobs.size(), 1u) << "the receipt came through whole";
    EXPECT_EQ(jobs[0].text.front(), "end");
}

// A client that uses Xon/Xoff is stopped while the printer cannot take its
// bytes, and goes on where it stopped once the printer takes them again.
TEST(PtyPrinter, XonXoffClientIsStoppedWhileThePrinterHoldsInput) {
    PrinterConfig config;
    config.conditions.paper = Conditions::Paper::End;
    config.inputBufferBytes = 100;
    R3Engine engine(config);
    PtyPrinter printer(engine);
    ASSERT_TRUE(printer.start()) << printer.error();
    Client client(printer.slavePath());
    termios tio{};
    tcgetattr(client.fd(), &tio);
    tio.c_iflag |= IXON;
    tcsetattr(client.fd(), TCSANOW, &tio);

    const Bytes first(1000, 0x00);
    ASSERT_TRUE(client.send(first));
    // The printer took 100 bytes and holds the rest back: XOFF stops the client,
    // although the terminal's buffer has room.
    const auto end = Steady::now() + std::chrono::seconds(3);
    ssize_t n = 0;
    while (Steady::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::uint8_t byte = 0;
        n = ::write(client.fd(), &byte, 1);
        if (n < 0) break;
    }
    EXPECT_LT(n, 0) << "writes go on while the printer holds input";
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(engine.receivedLog().size(), 100u);

    engine.setCondition("paper ok", SystemClock::instance().now());
    const Bytes query = {0x1D, 0x49, 0x01};
    const auto resumed = Steady::now() + std::chrono::seconds(3);
    bool sent = false;
    while (!sent && Steady::now() < resumed) {
        sent = client.send(query);  // XON lets the client go on
        if (!sent) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(sent);
    EXPECT_EQ(client.receive(1, 3000), Bytes{0x20}) << "the rest came through, in order";
}

}  // namespace
}  // namespace tessaly::sim
