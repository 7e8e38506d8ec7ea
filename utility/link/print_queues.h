#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessaly {

// A queue of the local print system.
struct PrintQueue {
    std::string name;
    std::string deviceUri;  // where the queue prints, e.g. serial:/dev/ttyS0?baud=9600
    bool paused = false;
};

// The local print system, as far as keeping its queues off a port goes.
class PrintQueues {
  public:
    virtual ~PrintQueues() = default;
    // The local queues; nothing when the print system cannot be reached.
    virtual std::optional<std::vector<PrintQueue>> List() = 0;
    // Stops a queue from sending jobs to its device (jobs are still accepted).
    virtual bool Pause(const std::string& name) = 0;
    virtual bool Resume(const std::string& name) = 0;
};

}  // namespace tessaly
