#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "clock.h"
#include "engine_link.h"
#include "r3_engine.h"
#include "server_thread.h"

namespace tessaly::sim {

// Serves an engine on a pseudo-terminal, so that programs open the virtual printer
// like a serial device. A reader thread takes what arrives on the terminal at
// once (so a client that flushes its terminal on close loses nothing it wrote),
// and a server thread feeds it to the engine, with real time, and writes the
// answers back when they are due. While the printer takes no more, the reader
// stops after a read-ahead, so the client's writes block; a client that uses
// Xon/Xoff is sent XOFF (a pseudo-terminal has no CTS or DSR line).
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
    void readLoop();
    bool clientUsesXonXoff() const;
    void closeTerminal();
    void checkLine();  // tells the engine the client's line speed

    R3Engine& engine_;
    Options options_;
    Clock& clock_;
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up between clients
    ServerThread server_;
    WakePipe readerWake_;  // wakes the reader thread
    EngineLink link_;
    std::mutex readMutex_;  // a read and its hand-over to the link
    std::atomic<bool> readerStop_{false};
    bool linkMade_ = false;
    std::string slavePath_;
    std::string error_;
    std::atomic<bool> running_{false};
    std::atomic<bool> dropped_{false};

    // Progress of the server loop, for waitIdle.
    std::mutex loopMutex_;
    std::condition_variable loopDone_;
    std::uint64_t loops_ = 0;
    bool inputEmpty_ = false;
};

}  // namespace tessaly::sim
