#include "tcp_printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tessaly::sim {

namespace {

constexpr int kIdlePollMs = 100;

}  // namespace

bool ParseTcpAddress(const std::string& text, TcpPrinter::Options& options, std::string& error) {
    const auto colon = text.rfind(':');
    const std::string address =
        colon == std::string::npos ? options.address : text.substr(0, colon);
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    in_addr parsed{};
    int value = -1;
    try {
        std::size_t used = 0;
        value = std::stoi(port, &used);
        if (used != port.size()) value = -1;
    } catch (...) {
        value = -1;
    }
    if (value < 0 || value > 65535 || inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        error = fmt::format(
            "--tcp {}: expected [ADDRESS:]PORT, an IPv4 address and a port 0..65535", text);
        return false;
    }
    options.address = address;
    options.port = value;
    return true;
}

TcpPrinter::TcpPrinter(R3Engine& engine, Options options, Clock& clock)
    : engine_(engine),
      options_(std::move(options)),
      clock_(clock),
      link_(engine, R3Engine::kNetworkHost) {}

TcpPrinter::~TcpPrinter() {
    stop();
}

bool TcpPrinter::start() {
    if (running_) return true;
    error_.clear();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(options_.port));
    if (inet_pton(AF_INET, options_.address.c_str(), &addr.sin_addr) != 1) {
        error_ = fmt::format("{} is not an IPv4 address", options_.address);
        return false;
    }
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (listen_ < 0 || setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_, 16) != 0 || !server_.openWake()) {
        error_ = fmt::format("cannot listen on {}:{}: {}", options_.address, options_.port,
                             std::strerror(errno));
        stop();
        return false;
    }
    socklen_t length = sizeof addr;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    running_ = true;
    server_.start([this] { serve(); });
    return true;
}

void TcpPrinter::stop() {
    server_.stop();
    running_ = false;
    for (int* fd : {&client_, &listen_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    server_.closeWake();
}

void TcpPrinter::closeClient(std::int64_t now) {
    ::close(client_);
    client_ = -1;
    link_.dropAnswers(now);
    // A connection is a job, unless its bytes still wait for the printer.
    engine_.endJob(now, "disconnect");
}

void TcpPrinter::serve() {
    std::vector<std::uint8_t> buffer(64u << 10);
    while (!server_.stopping()) {
        std::int64_t now = clock_.now();
        engine_.tick(now);
        if (!link_.feed(now)) {
            if (client_ >= 0) closeClient(now);
            break;  // the printer went away
        }
        const bool holding = link_.holding();
        std::size_t pendingCount = 0;
        const std::uint8_t* pending = client_ >= 0 ? link_.answers(now, pendingCount) : nullptr;

        pollfd fds[2] = {{-1, 0, 0}, {server_.wake().fd(), POLLIN, 0}};
        if (client_ >= 0) {
            fds[0] = {client_,
                      static_cast<short>((holding ? 0 : POLLIN) | (pendingCount > 0 ? POLLOUT : 0)),
                      0};
        } else if (!holding) {
            fds[0] = {listen_, POLLIN, 0};  // the next client once the last one's bytes are in
        }
        const int ready = ::poll(fds, 2, link_.pollTimeout(now, kIdlePollMs));
        if (ready < 0 && errno != EINTR) break;
        if (server_.stopping()) break;
        if (fds[1].revents & POLLIN) {
            server_.wake().drain();
        }
        now = clock_.now();
        if (client_ < 0) {
            if (fds[0].fd == listen_ && (fds[0].revents & POLLIN)) {
                client_ = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (client_ >= 0) {
                    const int on = 1;
                    setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    ++served_;
                }
            }
            continue;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::recv(client_, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                link_.received(buffer.data(), static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                closeClient(now);  // the client has gone; what it sent is still fed
                continue;
            }
        }
        if ((fds[0].revents & POLLOUT) && pendingCount > 0) {
            const ssize_t n = ::send(client_, pending, pendingCount, MSG_NOSIGNAL);
            if (n > 0) {
                link_.wrote(static_cast<std::size_t>(n));
            } else if (errno != EAGAIN && errno != EINTR) {
                closeClient(now);
                continue;
            }
        }
        if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) closeClient(now);
    }
    running_ = false;
}

}  // namespace tessaly::sim
