#pragma once

#include <map>
#include <memory>
#include <string>

#include "diversion_journal.h"

namespace tessaly::testing {

// A journal store in memory that a test can look into, damage or make fail.
struct MemoryJournalStore final : JournalStore {
    std::map<std::string, std::string>* items;
    bool* failWrites;
    MemoryJournalStore(std::map<std::string, std::string>& i, bool& fail)
        : items(&i), failWrites(&fail) {}
    std::string Where() const override { return "memory"; }
    std::string PathOf(const std::string& key) const override { return "memory:" + key; }
    bool Write(const std::string& key, const std::string& text, std::string& error) override {
        if (*failWrites) {
            error = "the disk is full";
            return false;
        }
        (*items)[key] = text;
        return true;
    }
    bool Remove(const std::string& key, std::string&) override {
        items->erase(key);
        return true;
    }
    std::vector<Item> ReadAll() override {
        std::vector<Item> all;
        for (const auto& [key, text] : *items) all.push_back({key, text, {}});
        return all;
    }
    bool TryLock() override { return true; }
    void Unlock() override {}
};

// A journal of its own for a test, as the given process.
struct MemoryJournal {
    std::map<std::string, std::string> items;
    bool failWrites = false;
    DiversionJournal journal;
    explicit MemoryJournal(ProcessIdentity self = ThisProcess())
        : journal(std::make_unique<MemoryJournalStore>(items, failWrites), std::move(self)) {}
};

}  // namespace tessaly::testing
