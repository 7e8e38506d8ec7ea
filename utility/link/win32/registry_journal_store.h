#pragma once

#include <windows.h>

#include <string>

#include "diversion_journal.h"

namespace tessaly {

// Records as text values under a key of the user's registry hive, flushed to disk
// after each change. Ending the process cannot lose a value once Write returned.
class RegistryJournalStore final : public JournalStore {
  public:
    static constexpr const char* kKey = "Software\\Tessaly\\QueueDiversions";

    explicit RegistryJournalStore(std::string key = kKey);
    ~RegistryJournalStore() override;

    std::string Where() const override;
    std::string PathOf(const std::string& key) const override;
    bool Write(const std::string& key, const std::string& text, std::string& error) override;
    bool Remove(const std::string& key, std::string& error) override;
    std::vector<Item> ReadAll() override;
    bool TryLock() override;
    void Unlock() override;

  private:
    std::string key_;
    HANDLE lock_ = nullptr;
};

}  // namespace tessaly
