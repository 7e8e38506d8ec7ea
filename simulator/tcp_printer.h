#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "clock.h"
#include "engine_link.h"
#include "r3_engine.h"
#include "server_thread.h"

namespace tessaly::sim {

// Serves an engine on a TCP port as networked receipt printers are driven: raw
// bytes in, answers out, one client at a time. Others wait in the listen queue
// until the client before them has gone. While the printer takes no more the
// socket is not read, so TCP's window holds the sender.
class TcpPrinter {
  public:
    struct Options {
        std::string address = "127.0.0.1";  // loopback unless told otherwise
        int port = 9100;                    // 0: any free port (see port())
    };

    TcpPrinter(R3Engine& engine, Options options, Clock& clock = SystemClock::instance());
    ~TcpPrinter();
    TcpPrinter(const TcpPrinter&) = delete;
    TcpPrinter& operator=(const TcpPrinter&) = delete;

    bool start();  // binds and listens; false with error()
    void stop();
    int port() const { return port_; }  // the port bound
    const std::string& address() const { return options_.address; }
    const std::string& error() const { return error_; }
    bool running() const { return running_; }
    int clientsServed() const { return served_; }

  private:
    void serve();
    void closeClient(std::int64_t now);

    R3Engine& engine_;
    Options options_;
    Clock& clock_;
    EngineLink link_;
    int listen_ = -1;
    int client_ = -1;
    ServerThread server_;
    int port_ = 0;
    std::string error_;
    std::atomic<bool> running_{false};
    std::atomic<int> served_{0};
};

// Reads "[ADDR:]PORT" (PORT 0..65535, ADDR an IPv4 address); false with error.
bool ParseTcpAddress(const std::string& text, TcpPrinter::Options& options, std::string& error);

}  // namespace tessaly::sim
