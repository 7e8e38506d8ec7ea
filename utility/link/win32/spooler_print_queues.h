#pragma once

#include <optional>
#include <string>
#include <vector>

#include "print_queues.h"

namespace tessaly {

// The local queues of the Windows print spooler. A queue is kept off its port by
// moving it to the port "FILE:" through its level-2 record, and given back by
// writing the port text it had; the spooler's own pause state is not touched. A
// queue on "FILE:" is listed as paused.
//
// Each List() starts a pass. Once a level-2 record cannot be read during a pass,
// no further queue is changed in that pass, so that a spooler in trouble is not
// left half rewritten by guesswork.
class SpoolerPrintQueues final : public PrintQueues {
  public:
    static constexpr const char* kParkingPort = "FILE:";

    std::optional<std::vector<PrintQueue>> List() override;
    QueueChange Pause(const PrintQueue& queue, const std::string& note) override;
    QueueChange Resume(const std::string& name, const std::string& former) override;
    // Still on "FILE:": nobody moved it since. The spooler keeps no note.
    bool StillPaused(const PrintQueue& queue, const std::string& note) const override;

    std::string PausedWord() const override { return "moved to FILE:"; }
    std::string PauseAdvice(const std::string& name) const override;
    std::string ResumeAdvice(const std::string& name, const std::string& former) const override;
    std::string GivenBack(const std::string& name, const std::string& former) const override;

  private:
    QueueChange ChangePort(const std::string& name, const std::string& port);

    bool passOk_ = true;
};

}  // namespace tessaly
