#include "pty_printer.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tessaly::sim {

namespace {

// The longest the thread sleeps without a reason: keeps font idle time moving.
constexpr int kIdlePollMs = 100;

std::string SystemError(const char* what) {
    return fmt::format("{}: {}", what, std::strerror(errno));
}

}  // namespace

PtyPrinter::PtyPrinter(R3Engine& engine, Clock& clock) : PtyPrinter(engine, Options{}, clock) {}

PtyPrinter::PtyPrinter(R3Engine& engine, Options options, Clock& clock)
    : engine_(engine),
      options_(std::move(options)),
      clock_(clock),
      link_(engine, R3Engine::kSerialHost) {}

PtyPrinter::~PtyPrinter() {
    stop();
}

bool PtyPrinter::start() {
    if (running_) return true;
    error_.clear();
    dropped_ = false;

    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error_ = SystemError("posix_openpt");
        return false;
    }
    // Programs started meanwhile must not hold the printer's side of the line:
    // a dropped link would stay open in them and never hang up.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    std::array<char, 128> name{};
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name.data(), name.size()) != 0) {
        error_ = SystemError("preparing the pseudo-terminal");
        closeTerminal();
        return false;
    }
    slavePath_ = name.data();
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        error_ = SystemError("opening the terminal side");
        closeTerminal();
        return false;
    }
    // Raw mode: no echo, no line editing, no CR/LF translation of printer bytes.
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    const int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);

    if (!server_.openWake() || !readerWake_.open()) {
        error_ = SystemError("pipe");
        closeTerminal();
        return false;
    }

    if (!options_.linkPath.empty()) {
        struct stat st {};
        if (lstat(options_.linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error_ = fmt::format("{} exists and is not a symbolic link; not replacing it",
                                     options_.linkPath);
                closeTerminal();
                return false;
            }
            ::unlink(options_.linkPath.c_str());  // a stale link of an earlier run
        }
        if (symlink(slavePath_.c_str(), options_.linkPath.c_str()) != 0) {
            error_ = SystemError(("creating the link " + options_.linkPath).c_str());
            closeTerminal();
            return false;
        }
        linkMade_ = true;
    }

    running_ = true;
    server_.start([this] { serve(); });
    return true;
}

void PtyPrinter::stop() {
    server_.stop();
    running_ = false;
    closeTerminal();
}

void PtyPrinter::closeTerminal() {
    if (linkMade_) {
        // Remove the link only if it still points at this terminal.
        std::array<char, 256> target{};
        const ssize_t n = readlink(options_.linkPath.c_str(), target.data(), target.size() - 1);
        if (n > 0 && slavePath_ == std::string(target.data(), static_cast<std::size_t>(n))) {
            ::unlink(options_.linkPath.c_str());
        }
        linkMade_ = false;
    }
    server_.closeWake();
    readerWake_.close();
    for (int* fd : {&slave_, &master_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void PtyPrinter::checkLine() {
    // Only the speed of a pseudo-terminal reads back (the kernel forces 8 data
    // bits and no parity), so data bits and parity are taken as the printer's own.
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) return;
    static const std::pair<speed_t, std::int32_t> kSpeeds[] = {
        {B1200, 1200},     {B2400, 2400},     {B4800, 4800},    {B9600, 9600},
        {B19200, 19200},   {B38400, 38400},   {B57600, 57600},  {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    const speed_t speed = cfgetospeed(&tio);
    std::int32_t baud = 0;
    for (const auto& [code, value] : kSpeeds) {
        if (code == speed) baud = value;
    }
    const auto& own = engine_.config().serial;
    auto toInt = [](const std::string& text) { return std::atoi(text.c_str()); };
    engine_.setHostLine(baud, toInt(own.dataBits), toInt(own.parity));
}

void PtyPrinter::readLoop() {
    std::vector<std::uint8_t> buffer(64u << 10);
    while (!server_.stopping() && !readerStop_) {
        const std::size_t room = link_.room();
        pollfd fds[2] = {{master_, static_cast<short>(room > 0 ? POLLIN : 0), 0},
                         {readerWake_.fd(), POLLIN, 0}};
        if (::poll(fds, 2, kIdlePollMs) < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) readerWake_.drain();
        if (fds[0].revents & POLLIN) {
            checkLine();
            // Read as soon as bytes are there: what the kernel still holds is lost
            // when the client flushes its terminal on open or close.
            std::lock_guard lock(readMutex_);
            const ssize_t n = ::read(master_, buffer.data(), std::min(buffer.size(), room));
            if (n > 0) {
                link_.received(buffer.data(), static_cast<std::size_t>(n));
                server_.wake().poke();
            } else if (n == 0 || errno != EAGAIN) {
                clock_.sleep(10);  // not expected while our slave is open; never spin
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            clock_.sleep(10);  // as above
        }
    }
}

bool PtyPrinter::clientUsesXonXoff() const {
    termios tio{};
    return tcgetattr(slave_, &tio) == 0 && (tio.c_iflag & IXON) != 0;
}

void PtyPrinter::serve() {
    readerStop_ = false;
    std::thread reader([this] { readLoop(); });
    bool xoff = false;  // XOFF sent: the client's output is stopped

    while (!server_.stopping()) {
        std::int64_t now = clock_.now();
        engine_.tick(now);
        const bool wasFull = link_.room() == 0;
        if (!link_.feed(now)) {
            // The printer went away: close the terminal, as an unplugged adapter
            // would, so the client sees its link fail.
            dropped_ = true;
            break;
        }
        if (wasFull && link_.room() > 0) readerWake_.poke();
        // A client that uses Xon/Xoff is stopped while the printer holds bytes back;
        // a pseudo-terminal has no CTS or DSR line to do it otherwise.
        const bool hold = link_.holding();
        if (hold != xoff && (!hold || clientUsesXonXoff())) {
            const std::uint8_t code = hold ? 0x13 : 0x11;
            if (::write(master_, &code, 1) == 1) xoff = hold;
        }

        std::size_t pendingCount = 0;
        const std::uint8_t* pending = link_.answers(now, pendingCount);
        pollfd fds[2] = {{master_, static_cast<short>(pendingCount > 0 ? POLLOUT : 0), 0},
                         {server_.wake().fd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, link_.pollTimeout(now, kIdlePollMs));
        if (ready < 0 && errno != EINTR) break;
        if (server_.stopping()) break;
        if (fds[1].revents & POLLIN) server_.wake().drain();
        if ((fds[0].revents & POLLOUT) && pendingCount > 0) {
            const ssize_t n = ::write(master_, pending, pendingCount);
            if (n > 0) link_.wrote(static_cast<std::size_t>(n));
        }
        if (fds[0].revents & (POLLHUP | POLLERR)) clock_.sleep(10);  // never spin

        bool empty = false;
        {
            std::lock_guard lock(readMutex_);
            int waiting = 0;
            empty = !link_.holding() && ioctl(master_, FIONREAD, &waiting) == 0 && waiting == 0;
        }
        {
            std::lock_guard lock(loopMutex_);
            ++loops_;
            inputEmpty_ = empty;
        }
        loopDone_.notify_all();
    }

    readerStop_ = true;
    readerWake_.poke();
    reader.join();
    if (dropped_) {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
        slave_ = master_ = -1;
    }
    {
        std::lock_guard lock(loopMutex_);
        running_ = false;
    }
    loopDone_.notify_all();
}

bool PtyPrinter::waitIdle(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(loopMutex_);
    // The second loop to finish after this call started after it too, so it has
    // seen everything written before the call.
    const std::uint64_t need = loops_ + 2;
    for (;;) {
        if (!running_) return true;
        if (loops_ >= need && inputEmpty_) return true;
        const std::uint64_t target = loops_ + 1;  // one wake-up, one loop
        lock.unlock();
        server_.wake().poke();
        lock.lock();
        if (!loopDone_.wait_until(lock, deadline, [&] { return loops_ >= target || !running_; })) {
            return false;
        }
    }
}

}  // namespace tessaly::sim
