#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "process_identity.h"

namespace tessaly {

// One print queue kept off a port, written down before it was changed.
struct DiversionEntry {
    std::string queue;
    std::string server;  // the print server the queue belongs to (PrintQueues::Server)
    std::string former;  // the device the queue printed to
    std::string note;    // how the pause is marked in the print system
    bool operator==(const DiversionEntry&) const = default;
};

// What one process wrote down for one port.
struct DiversionRecord {
    std::string key;  // where the record is stored
    ProcessIdentity owner;
    std::string port;
    std::vector<DiversionEntry> entries;
};

// Durable storage of records, one text per key: files in a folder, or registry
// values.
class JournalStore {
  public:
    struct Item {
        std::string key;
        std::string text;
        std::string error;  // why the text could not be read; then text is empty
    };

    virtual ~JournalStore() = default;
    // Where the records live, for messages.
    virtual std::string Where() const = 0;
    // Where one record lives, for messages.
    virtual std::string PathOf(const std::string& key) const = 0;
    // Stores the text so that it survives the program and the machine going down:
    // when this returns true the text is on disk.
    virtual bool Write(const std::string& key, const std::string& text, std::string& error) = 0;
    // Removing a key that is not there is no error.
    virtual bool Remove(const std::string& key, std::string& error) = 0;
    virtual std::vector<Item> ReadAll() = 0;
    // Held while the records of ended processes are given back, so that two
    // programs starting at once do not both do it. False when another holds it.
    virtual bool TryLock() = 0;
    virtual void Unlock() = 0;
};

// The records of print queues that this process keeps off its ports, and the
// records that other processes left. Thread-safe: the diversions of several ports
// share one journal.
class DiversionJournal {
  public:
    struct Scan {
        std::vector<DiversionRecord> records;
        std::vector<std::string> problems;  // records that were ignored, and why
    };

    // Held while acting on the records of ended processes (see JournalStore::TryLock).
    class RecoveryLock {
      public:
        explicit RecoveryLock(DiversionJournal& journal);
        ~RecoveryLock();
        RecoveryLock(const RecoveryLock&) = delete;
        RecoveryLock& operator=(const RecoveryLock&) = delete;
        bool held() const { return held_; }

      private:
        DiversionJournal& journal_;
        bool held_;
    };

    DiversionJournal(std::unique_ptr<JournalStore> store, ProcessIdentity self);

    // The journal of this process, on the platform's store.
    static DiversionJournal& ForThisProcess();

    // Writes down that this process is about to change a queue on the port. False
    // (and why) when that could not be stored durably: then nothing is recorded.
    bool Add(const std::string& port, const DiversionEntry& entry, std::string& error);
    // Forgets a queue of this process once it has been given back.
    bool Remove(const std::string& port, const std::string& queue, std::string& error);
    // Every record in the store, this process's included.
    Scan Read();
    // Stores another process's record with the entries still outstanding, or
    // removes it when none is left.
    bool Rewrite(const DiversionRecord& record, std::string& error);

    const ProcessIdentity& self() const { return self_; }
    std::string Where() const;

    // The stored form of a record, and back; Decode says what is wrong with a text
    // it does not accept.
    static std::string Encode(const DiversionRecord& record);
    static std::optional<DiversionRecord> Decode(const std::string& text, std::string& error);
    // The key of a process's record for a port: readable, and distinct for
    // distinct ports.
    static std::string KeyFor(const std::string& port, long long pid);

  private:
    bool Store(const DiversionRecord& record, std::string& error);

    std::mutex mutex_;
    std::unique_ptr<JournalStore> store_;
    ProcessIdentity self_;
    std::map<std::string, DiversionRecord> own_;  // by port
};

// The platform's store: Linux keeps one file per port and process in
// $XDG_STATE_HOME/tessaly (root: /run/tessaly); Windows keeps registry values
// under the user's key.
std::unique_ptr<JournalStore> MakePlatformJournalStore();

}  // namespace tessaly
