#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace tessaly::sim {

// A pipe that wakes a server thread out of poll(): another thread pokes, the
// server polls the read end and drains it.
class WakePipe {
  public:
    WakePipe() = default;
    ~WakePipe() { close(); }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    bool open() { return fds_[0] >= 0 || pipe2(fds_, O_CLOEXEC | O_NONBLOCK) == 0; }
    void close() {
        for (int& fd : fds_) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        }
    }
    int fd() const { return fds_[0]; }  // to poll for POLLIN
    void poke() const {
        const char byte = 1;
        [[maybe_unused]] const auto ignored = ::write(fds_[1], &byte, 1);
    }
    void drain() const {
        char sink[64];
        while (::read(fds_[0], sink, sizeof sink) > 0) {
        }
    }

  private:
    int fds_[2] = {-1, -1};
};

}  // namespace tessaly::sim
