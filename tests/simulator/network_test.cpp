// The network transport and the control socket, as clients use them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "control_socket.h"
#include "tcp_printer.h"

namespace tessaly::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Steady = std::chrono::steady_clock;
using ::testing::HasSubstr;

class Socket {
  public:
    explicit Socket(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    explicit Socket(const std::string& unixPath) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        unixPath.copy(addr.sun_path, sizeof addr.sun_path - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Socket() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    bool send(const Bytes& b) {
        return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
    }
    bool send(const std::string& s) { return send(Bytes(s.begin(), s.end())); }
    Bytes receive(std::size_t want, int deadlineMs = 2000) {
        Bytes out;
        const auto end = Steady::now() + std::chrono::milliseconds(deadlineMs);
        while (out.size() < want && Steady::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            std::uint8_t buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, want - out.size()), 0);
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    std::string line() {
        std::string out;
        for (Bytes b = receive(1); !b.empty() && b[0] != '\n'; b = receive(1))
            out.push_back(static_cast<char>(b[0]));
        return out;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

template <typename Predicate>
bool WaitFor(Predicate done, int ms = 3000) {
    const auto end = Steady::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Steady::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TcpPrinter::Options AnyPort() {
    TcpPrinter::Options options;
    options.port = 0;
    return options;
}

TEST(TcpPrinter, ServesOneClientAtATimeAndTheNextWaits) {
    R3Engine engine;
    TcpPrinter printer(engine, AnyPort());
    ASSERT_TRUE(printer.start()) << printer.error();
    ASSERT_GT(printer.port(), 0);
    Socket first(printer.port());
    ASSERT_TRUE(first.connected());
    ASSERT_TRUE(first.send(Bytes{0x1D, 0x49, 0x01}));
    EXPECT_EQ(first.receive(1), Bytes{0x20});

    Socket second(printer.port());
    ASSERT_TRUE(second.connected()) << "the listen queue takes it";
    ASSERT_TRUE(second.send(Bytes{0x1D, 0x49, 0x43}));
    EXPECT_TRUE(second.receive(1, 300).empty()) << "not served while the first is";
    first.close();
    const Bytes name = second.receive(14);
    EXPECT_EQ(std::string(name.begin(), name.end()), std::string("_Vantreel R-3\0", 14));
    EXPECT_EQ(printer.clientsServed(), 2);
}

TEST(TcpPrinter, PaperOutHoldsTheSenderAndLosesNothing) {
    PrinterConfig config;
    config.conditions.paper = Conditions::Paper::End;
    config.inputBufferBytes = 4096;
    R3Engine engine(config);
    TcpPrinter printer(engine, AnyPort());
    ASSERT_TRUE(printer.start()) << printer.error();
    Socket client(printer.port());
    ASSERT_TRUE(client.connected());
    fcntl(client.fd(), F_SETFL, fcntl(client.fd(), F_GETFL) | O_NONBLOCK);

    // NUL bytes print nothing; far more than the socket buffers take.
    const Bytes data(8u << 20, 0x00);
    std::size_t sent = 0;
    auto pump = [&] {
        const ssize_t n = ::send(client.fd(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) sent += static_cast<std::size_t>(n);
        return sent == data.size();
    };
    EXPECT_FALSE(WaitFor(pump, 500)) << "the window closed";
    EXPECT_LT(sent, data.size());
    EXPECT_LE(engine.receivedLog().size(), 4096u);

    engine.setCondition("paper ok", SystemClock::instance().now());
    ASSERT_TRUE(WaitFor(pump, 20000));
    EXPECT_TRUE(WaitFor([&] { return engine.receivedLog().size() == data.size(); }, 20000))
        << engine.receivedLog().size();
}

TEST(TcpPrinter, AClientGoingAwayEndsItsJob) {
    PrinterConfig config;
    config.keepJobs = true;
    config.jobGapMs = 60000;
    R3Engine engine(config);
    TcpPrinter printer(engine, AnyPort());
    ASSERT_TRUE(printer.start()) << printer.error();
    {
        Socket client(printer.port());
        ASSERT_TRUE(client.send(std::string("receipt without a cut\n")));
    }
    std::vector<PrintJob> jobs;
    ASSERT_TRUE(WaitFor([&] {
        for (auto& j : engine.takeJobs()) jobs.push_back(std::move(j));
        return !jobs.empty();
    }));
    EXPECT_EQ(jobs[0].endedBy, "disconnect");
}

TEST(TcpPrinter, AddressesAreCheckedBeforeListening) {
    TcpPrinter::Options o;
    std::string error;
    ASSERT_TRUE(ParseTcpAddress("9200", o, error));
    EXPECT_EQ(o.address, "127.0.0.1");
    EXPECT_EQ(o.port, 9200);
    ASSERT_TRUE(ParseTcpAddress("0.0.0.0:0", o, error));
    EXPECT_EQ(o.address, "0.0.0.0");
    for (const char* bad : {"70000", "printer:9100", "9100x", ":", ""}) {
        EXPECT_FALSE(ParseTcpAddress(bad, o, error)) << bad;
    }
    EXPECT_THAT(error, HasSubstr("[ADDRESS:]PORT"));

    // A port in use is an error, not a crash.
    R3Engine engine;
    TcpPrinter first(engine, AnyPort());
    ASSERT_TRUE(first.start());
    TcpPrinter second(engine, {"127.0.0.1", first.port()});
    EXPECT_FALSE(second.start());
    EXPECT_THAT(second.error(), HasSubstr("cannot listen"));
}

TEST(ControlSocket, ChangesConditionsLineByLine) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("r3-control-" + std::to_string(::getpid())))
            .string();
    R3Engine engine;
    ControlSocket control(engine, path);
    ASSERT_TRUE(control.start()) << control.error();
    Socket client(path);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(
        client.send(std::string("paper end\ncover=open\nstatus\nlid open\nerror broken\n")));
    EXPECT_EQ(client.line(),
              "ok paper=end cover=closed drawer=closed online error=none (printing stopped)");
    EXPECT_EQ(client.line(),
              "ok paper=end cover=open drawer=closed online error=none (printing stopped)");
    EXPECT_THAT(client.line(), HasSubstr("ok paper=end cover=open"));
    EXPECT_THAT(client.line(), HasSubstr("error: unknown condition 'lid open'"));
    EXPECT_THAT(client.line(), HasSubstr("error: error: expected none, cutter"));
    EXPECT_EQ(engine.conditions().paper, Conditions::Paper::End);
    EXPECT_TRUE(engine.conditions().coverOpen);
    control.stop();
    EXPECT_FALSE(std::filesystem::exists(path)) << "the socket is removed";

    // Another kind of file in its place is never replaced.
    std::ofstream(path) << "mine";
    ControlSocket refused(engine, path);
    EXPECT_FALSE(refused.start());
    EXPECT_THAT(refused.error(), HasSubstr("not a socket"));
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace tessaly::sim
