#pragma once

#include <string>

#include "diversion_journal.h"

namespace tessaly {

// Records as files "<key>.journal" in one folder, created (mode 0700) when the
// first record is written. Each write goes to a temporary file that is flushed to
// disk and then renamed over the record, and the folder is flushed too, so a
// record is either the old or the new text, never half of one, even after a
// power cut.
class FileJournalStore final : public JournalStore {
  public:
    explicit FileJournalStore(std::string folder);
    ~FileJournalStore() override;

    // $XDG_STATE_HOME/tessaly when XDG_STATE_HOME is set; otherwise /run/tessaly
    // for root (the queues of the whole machine, gone with a reboot like any
    // process that paused them) and ~/.local/state/tessaly for everyone else.
    static std::string DefaultFolder();

    std::string Where() const override { return folder_; }
    std::string PathOf(const std::string& key) const override;
    bool Write(const std::string& key, const std::string& text, std::string& error) override;
    bool Remove(const std::string& key, std::string& error) override;
    std::vector<Item> ReadAll() override;
    bool TryLock() override;
    void Unlock() override;

  private:
    std::string folder_;
    int lockFd_ = -1;
};

}  // namespace tessaly
