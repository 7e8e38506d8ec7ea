#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "wake_pipe.h"

namespace tessaly::sim {

// The thread of one of the virtual printer's servers (pty, TCP, control socket):
// it polls the wake pipe besides its own descriptors and ends its loop once
// stopping() turns true.
class ServerThread {
  public:
    ServerThread() = default;
    ~ServerThread() { stop(); }
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

    bool openWake() { return wake_.open(); }
    void closeWake() { wake_.close(); }
    const WakePipe& wake() const { return wake_; }

    void start(std::function<void()> serve) {
        stopping_ = false;
        thread_ = std::thread(std::move(serve));
    }
    // Tells the thread to end, wakes it and waits for it; nothing when none runs.
    void stop() {
        if (!thread_.joinable()) return;
        stopping_ = true;
        wake_.poke();
        thread_.join();
    }
    bool stopping() const { return stopping_; }

  private:
    WakePipe wake_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
};

}  // namespace tessaly::sim
