#pragma once

// The virtual R-3 behind a named pipe: a device path that a Windows program opens
// with CreateFileA and then reads and writes as it would a USB printer. Every time
// the client lets go, the pipe waits for the next one, so a test can unplug and
// plug the "printer" back in.

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "r3_engine.h"

namespace wintest {

class PipePrinter {
  public:
    explicit PipePrinter(std::string path);
    ~PipePrinter();
    bool Start();
    void Stop();
    const std::string& path() const { return path_; }
    int connections() const { return connections_; }
    // True while a pipe instance waits for the next client.
    bool listening() const { return waiting_; }
    int selfTests();
    std::size_t bytesReceived();

  private:
    void Serve();

    std::string path_;
    tessaly::sim::R3Engine engine_;
    std::mutex engineMutex_;
    HANDLE stop_ = nullptr;
    HANDLE listening_ = nullptr;
    std::thread thread_;
    std::atomic<int> connections_{0};
    std::atomic<bool> waiting_{false};
};

}  // namespace wintest
