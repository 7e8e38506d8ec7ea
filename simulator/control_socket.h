#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "clock.h"
#include "r3_engine.h"
#include "server_thread.h"

namespace tessaly::sim {

// A Unix socket through which a test or a person changes the printer's
// conditions while it runs. One command per line, one answer line each:
//
//   paper ok|near-end|end    cover open|closed    drawer open|closed
//   online    offline        error none|cutter|unrecoverable|auto-recoverable
//   status                   help
//
// Answers start with "ok" (followed by the conditions now) or "error:".
class ControlSocket {
  public:
    ControlSocket(R3Engine& engine, std::string path, Clock& clock = SystemClock::instance());
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Creates the socket (replacing a stale one, never another kind of file);
    // false with error().
    bool start();
    void stop();  // and removes the socket file
    const std::string& error() const { return error_; }

    // The answer to one command line (without its newline).
    static std::string Answer(R3Engine& engine, const std::string& line, std::int64_t now);

  private:
    void serve();

    R3Engine& engine_;
    std::string path_;
    Clock& clock_;
    int listen_ = -1;
    ServerThread server_;
    bool made_ = false;
    std::string error_;
};

}  // namespace tessaly::sim
