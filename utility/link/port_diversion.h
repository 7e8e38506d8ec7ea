#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "print_queues.h"

namespace tessaly {

// Keeps the local print queues off a serial or parallel port while the utility may
// use it: Divert pauses every queue whose device names the port and records the
// state each had; Restore resumes exactly the queues Divert paused. Failures are
// silent (without a print system nothing happens).
//
// Every PortDiversion is known to a process-wide list, so that a process ending on
// a signal or through exit() can still restore them all (see RestoreAllDiversions
// and, on POSIX, InstallDiversionSafetyNet). Destruction restores as well.
class PortDiversion {
  public:
    struct Record {
        bool wasPaused = false;   // state before the first Divert that matched it
        bool pausedByUs = false;  // Divert paused it, so Restore resumes it
    };

    PortDiversion();  // the platform's print system
    explicit PortDiversion(std::unique_ptr<PrintQueues> queues);
    ~PortDiversion();
    PortDiversion(const PortDiversion&) = delete;
    PortDiversion& operator=(const PortDiversion&) = delete;

    // Pauses the queues on the port named as PrinterPort::Setup accepts it. USB
    // ports and names that select no port divert nothing. A queue recorded by an
    // earlier Divert keeps its first record.
    void Divert(const std::string& portName);
    // Resumes the queues paused by Divert and forgets them; a queue that could not
    // be resumed stays recorded so that a later Restore tries again.
    void Restore();

    std::map<std::string, Record> records() const;

  private:
    mutable std::mutex mutex_;
    std::unique_ptr<PrintQueues> queues_;
    std::map<std::string, Record> table_;
};

// Restores every PortDiversion of the process. Safe to call at exit or from a
// thread serving signals; not from a signal handler itself.
void RestoreAllDiversions();

// The platform's print system.
std::unique_ptr<PrintQueues> MakePlatformPrintQueues();

// The text that a print queue's device names a port by (e.g. "COM1" is
// /dev/ttyS0 on Linux); a queue is diverted when its device contains this text.
std::string QueuePortText(const std::string& portName);

}  // namespace tessaly
