#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tessaly::testing {

// A named pipe that nobody writes to, so that a program opening it for reading
// would wait for ever. Should anything still wait after the time limit, the
// watchdog opens the writing end once, which lets that open return, and notes
// that it had to: a test then fails instead of hanging.
class FifoWatchdog {
  public:
    FifoWatchdog(std::string path, int limitMs = 5000) : path_(std::move(path)) {
        ::unlink(path_.c_str());
        made_ = ::mkfifo(path_.c_str(), 0600) == 0;
        thread_ = std::thread([this, limitMs] {
            std::unique_lock lock(mutex_);
            if (cv_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return done_; }))
                return;
            // Succeeds only while a reader waits in its open.
            const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                fired_ = true;
                ::close(fd);
            }
        });
    }
    ~FifoWatchdog() {
        Stop();
        ::unlink(path_.c_str());
    }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

    bool made() const { return made_; }
    const std::string& path() const { return path_; }
    // True when something was still waiting to open the pipe at the time limit.
    bool Blocked() {
        Stop();
        return fired_;
    }

  private:
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    std::string path_;
    bool made_ = false;
    bool done_ = false;
    bool fired_ = false;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::thread thread_;
};

}  // namespace tessaly::testing
