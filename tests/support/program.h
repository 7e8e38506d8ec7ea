#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace tessaly::testing {

// A program run as a user runs it, with this process's environment (so under
// umockdev-wrapper it sees the same fake devices), standard input from /dev/null
// and both output streams collected. Wait() has a hard time limit.
class Program {
  public:
    struct Outcome {
        int status = -1;  // exit status; -1 when ended by a signal
        int signal = 0;   // the signal that ended it, if any
        std::string out;
        std::string err;
        bool timedOut = false;
    };

    Program(const std::string& path, const std::vector<std::string>& args) {
        int outPipe[2];
        int errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<std::string> all{path};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(outPipe[1]);
        close(errPipe[1]);
        fds_[0] = outPipe[0];
        fds_[1] = errPipe[0];
    }
    ~Program() {
        if (pid_ > 0 && !waited_) Wait(1);
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ > 0; }
    void Signal(int signal) const {
        if (pid_ > 0) kill(pid_, signal);
    }

    Outcome Wait(int limitMs = 30000) {
        Outcome o;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
        int open = 2;
        while (open > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) {
                o.timedOut = true;
                kill(pid_, SIGKILL);
                break;
            }
            if (poll(p, 2, static_cast<int>(left)) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP))) continue;
                char buffer[4096];
                const ssize_t n = read(p[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    (i == 0 ? o.out : o.err).append(buffer, static_cast<std::size_t>(n));
                } else {
                    p[i].fd = -1;
                    --open;
                }
            }
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        waited_ = true;
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return o;
    }

  private:
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    bool waited_ = false;
};

}  // namespace tessaly::testing
