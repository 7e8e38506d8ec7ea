#include "control_socket.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

namespace tessaly::sim {

namespace {

constexpr std::size_t kMaxLine = 1024;
constexpr std::size_t kMaxClients = 16;

const char* const kHelp =
    "ok commands: paper ok|near-end|end, cover open|closed, drawer open|closed, online, "
    "offline, error none|cutter|unrecoverable|auto-recoverable, status, help";

}  // namespace

ControlSocket::ControlSocket(R3Engine& engine, std::string path, Clock& clock)
    : engine_(engine), path_(std::move(path)), clock_(clock) {}

ControlSocket::~ControlSocket() {
    stop();
}

std::string ControlSocket::Answer(R3Engine& engine, const std::string& line, std::int64_t now) {
    std::string command = line;
    while (!command.empty() && (command.back() == '\r' || command.back() == ' '))
        command.pop_back();
    if (command == "help") return kHelp;
    if (command != "status") {
        if (auto problem = engine.setCondition(command, now)) return "error: " + *problem;
    }
    return "ok " + DescribeConditions(engine.conditions());
}

bool ControlSocket::start() {
    error_.clear();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof addr.sun_path) {
        error_ = fmt::format("control socket path '{}' is empty or longer than {} bytes", path_,
                             sizeof addr.sun_path - 1);
        return false;
    }
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error_ = fmt::format("{} exists and is not a socket; not replacing it", path_);
            return false;
        }
        ::unlink(path_.c_str());  // a stale socket of an earlier run
    }
    std::memcpy(addr.sun_path, path_.c_str(), path_.size());
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error_ =
            fmt::format("cannot create the control socket {}: {}", path_, std::strerror(errno));
        stop();
        return false;
    }
    made_ = true;
    if (::listen(listen_, 4) != 0 || !server_.openWake()) {
        error_ = fmt::format("cannot listen on {}: {}", path_, std::strerror(errno));
        stop();
        return false;
    }
    server_.start([this] { serve(); });
    return true;
}

void ControlSocket::stop() {
    server_.stop();
    if (listen_ >= 0) ::close(listen_);
    listen_ = -1;
    server_.closeWake();
    if (made_) ::unlink(path_.c_str());
    made_ = false;
}

void ControlSocket::serve() {
    std::map<int, std::string> clients;  // fd -> text not yet ended by a newline
    while (!server_.stopping()) {
        std::vector<pollfd> fds{{server_.wake().fd(), POLLIN, 0}, {listen_, POLLIN, 0}};
        for (const auto& [fd, text] : clients) fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        if (server_.stopping()) break;
        if ((fds[1].revents & POLLIN) && clients.size() < kMaxClients) {
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients[fd];
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const int fd = fds[i].fd;
            char buffer[512];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            std::string& text = clients[fd];
            if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
            bool close = n <= 0;
            for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n')) {
                const std::string answer =
                    Answer(engine_, text.substr(0, end), clock_.now()) + "\n";
                text.erase(0, end + 1);
                if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) close = true;
            }
            if (text.size() > kMaxLine) {
                const std::string answer = "error: line too long\n";
                [[maybe_unused]] const auto ignored =
                    ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
                close = true;
            }
            if (close) {
                ::close(fd);
                clients.erase(fd);
            }
        }
    }
    for (const auto& [fd, text] : clients) ::close(fd);
}

}  // namespace tessaly::sim
