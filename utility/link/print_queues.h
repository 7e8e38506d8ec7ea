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
    std::string stateMessage;  // why it is paused, as the print system shows it
};

// The outcome of pausing or resuming a queue.
struct QueueChange {
    bool done = false;
    std::string error;  // the print system's reason when not done
};

// The local print system, as far as keeping its queues off a port goes.
class PrintQueues {
  public:
    virtual ~PrintQueues() = default;
    // The local queues; nothing when the print system cannot be reached.
    virtual std::optional<std::vector<PrintQueue>> List() = 0;
    // Stops a queue from sending jobs to its device (jobs are still accepted).
    // `note` says who did it and why, where the print system can show it.
    virtual QueueChange Pause(const PrintQueue& queue, const std::string& note) = 0;
    // Gives back a queue that Pause stopped; `former` is the device it printed to.
    virtual QueueChange Resume(const std::string& name, const std::string& former) = 0;

    // Whether the queue is still as Pause left it with this note: nobody resumed
    // or paused it again since, so giving it back undoes only our own change.
    virtual bool StillPaused(const PrintQueue& queue, const std::string& note) const {
        return queue.paused && queue.stateMessage == note;
    }
    // Names the print server, so that a queue recorded against one server is
    // never given back on another. Empty for the one local system.
    virtual std::string Server() const { return {}; }

    // Texts for the user, in this print system's terms.
    virtual std::string PausedWord() const { return "paused"; }
    // What the user can do when a queue cannot be paused.
    virtual std::string PauseAdvice(const std::string& name) const {
        return "Add your user to the 'lpadmin' group, or stop the queue yourself with "
               "`cupsdisable " +
               name + "`.";
    }
    // What the user can do when a queue cannot be given back.
    virtual std::string ResumeAdvice(const std::string& name, const std::string&) const {
        return "Add your user to the 'lpadmin' group, or resume the queue yourself with "
               "`cupsenable " +
               name + "`.";
    }
    // Reports a queue given back after a run that did not finish.
    virtual std::string GivenBack(const std::string& name, const std::string&) const {
        return "Resumed queue " + name + ", left paused by an earlier run that did not finish.";
    }
};

}  // namespace tessaly
