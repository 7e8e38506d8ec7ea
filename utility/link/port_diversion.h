#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "diversion_journal.h"
#include "print_queues.h"

namespace tessaly {

// Which queues print to a port.
struct PortQueueMatch {
    std::string port;       // the device as messages and notes name it
    std::string text;       // a queue whose device contains this text prints to the port
    std::string usbSerial;  // and so does a usb: device naming this serial number
    bool Matches(const std::string& deviceUri) const;
};

// The platform's rule for the port named as PrinterPort::Setup accepts it; none
// when no queue of the local print system can print to it.
std::optional<PortQueueMatch> QueueMatchFor(const std::string& portName);

// What Divert did.
struct DiversionReport {
    std::vector<std::string> paused;   // queues paused now
    std::vector<std::string> refused;  // one message per queue left printing to the port
};

// What giving back the queues of runs that did not finish did.
struct RecoveryReport {
    std::vector<std::string> givenBack;  // one message per queue given back
    std::vector<std::string> warnings;   // queues that could not be given back
    std::vector<std::string> problems;   // records that were ignored
    bool unreachable = false;            // records wait, but the print system did not answer
};

// A local queue and who keeps it off its device, and why.
struct QueueSurvey {
    PrintQueue queue;
    std::string note;
};

// Keeps the local print queues off a port while the utility may use it: Divert
// pauses every queue whose device names the port and records the state each had;
// Restore resumes exactly the queues Divert paused.
//
// Each pause is written to the journal before it is made, and the record is
// removed only once the queue is given back, so that a run that is killed can be
// cleaned up after by the next one (RecoverAbandoned). A queue that cannot be
// recorded is not paused. The pause is also marked in the print system (the
// queue's state message), which tells an administrator who paused it.
//
// Every PortDiversion is known to a process-wide list, so that a process ending on
// a signal or through exit() can still restore them all (see RestoreAllDiversions
// and InstallDiversionSafetyNet). Destruction restores as well. Safe to use from
// several threads; one PortDiversion per port works as well as one for all.
class PortDiversion {
  public:
    struct Record {
        bool wasPaused = false;   // state before the first Divert that matched it
        bool pausedByUs = false;  // Divert paused it, so Restore resumes it
        std::string port;         // the port it was paused for
        std::string former;       // the device it printed to
    };

    PortDiversion();  // the platform's print system
    explicit PortDiversion(std::unique_ptr<PrintQueues> queues);
    PortDiversion(std::unique_ptr<PrintQueues> queues, DiversionJournal& journal);
    ~PortDiversion();
    PortDiversion(const PortDiversion&) = delete;
    PortDiversion& operator=(const PortDiversion&) = delete;

    // Pauses the queues on the port named as PrinterPort::Setup accepts it. A
    // queue recorded by an earlier Divert keeps its first record; one paused by
    // someone else is left alone.
    DiversionReport Divert(const std::string& portName);
    // Resumes the queues paused by Divert and forgets them; a queue that could not
    // be resumed stays recorded so that a later Restore tries again. Returns one
    // message per queue that could not be resumed.
    std::vector<std::string> Restore();
    // Gives back the queues that runs which did not finish left paused: those in
    // the journal whose owner process is gone and which nobody changed since, and
    // those whose pause carries our mark without any record left (the journal
    // lost) when the process it names is gone.
    RecoveryReport RecoverAbandoned();
    // The local queues that print to the port (all of them for an empty name),
    // with who paused them and why; nothing when the print system cannot be
    // reached. `problems` receives the records that were ignored.
    std::optional<std::vector<QueueSurvey>> Survey(const std::string& portName,
                                                   std::vector<std::string>& problems);

    std::map<std::string, Record> records() const;

    // The state message that marks our pause of the queues on a port.
    static std::string PauseNote(const std::string& port, long long pid);

  private:
    mutable std::mutex mutex_;
    std::unique_ptr<PrintQueues> queues_;
    DiversionJournal& journal_;
    std::map<std::string, Record> table_;
};

// Restores every PortDiversion of the process. Safe to call at exit or from a
// thread serving signals; not from a signal handler itself.
void RestoreAllDiversions();

// The platform's print system.
std::unique_ptr<PrintQueues> MakePlatformPrintQueues();

}  // namespace tessaly
