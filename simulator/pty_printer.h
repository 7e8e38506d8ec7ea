#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "clock.h"
#include "r3_engine.h"

namespace tessaly::sim {

// Serves an engine on a pseudo-terminal, so that programs open the virtual printer
// like a serial device. A background thread feeds the engine what arrives on the
// terminal, with real time, and writes its answers back when they are due.
class PtyPrinter {
  public:
    struct Options {
        std::string linkPath;  // when set, a symbolic link to the terminal is made here
    };

    explicit PtyPrinter(R3Engine& engine, Clock& clock = SystemClock::instance());
    PtyPrinter(R3Engine& engine, Options options, Clock& clock = SystemClock::instance());
    ~PtyPrinter();
    PtyPrinter(const PtyPrinter&) = delete;
    PtyPrinter& operator=(const PtyPrinter&) = delete;

    // Creates the terminal (and the link) and starts serving; false with error().
    bool start();
    // Stops serving, joins the thread, closes the terminal and removes the link.
    void stop();
    // Waits (at most timeoutMs) until everything a client has written so far has
    // been handed to the engine. A client that writes and exits at once otherwise
    // races the server thread; call this before inspecting the engine.
    bool waitIdle(int timeoutMs = 2000);

    bool running() const { return running_; }
    // True once the engine's link dropped (Disconnect fault) and the terminal closed.
    bool linkDropped() const { return dropped_; }
    const std::string& slavePath() const { return slavePath_; }
    const std::string& linkPath() const { return options_.linkPath; }
    const std::string& error() const { return error_; }

  private:
    void serve();
    void closeTerminal();
    void checkLine();  // tells the engine the client's line speed

    R3Engine& engine_;
    Options options_;
    Clock& clock_;
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up between clients
    int wake_[2] = {-1, -1};
    bool linkMade_ = false;
    std::string slavePath_;
    std::string error_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> dropped_{false};

    // Progress of the server loop, for waitIdle.
    std::mutex loopMutex_;
    std::condition_variable loopDone_;
    std::uint64_t loops_ = 0;
    bool inputEmpty_ = false;
};

}  // namespace tessaly::sim
