#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "print_queues.h"

namespace tessaly {

// The local queues of the Windows print spooler. A queue is kept off its port by
// moving it to the port "FILE:" through its level-2 record, and put back by
// writing the port text it had; the spooler's own pause state is not touched.
//
// Each List() starts a pass. Once a level-2 record cannot be read during a pass,
// no further queue is changed in that pass, so that a spooler in trouble is not
// left half rewritten by guesswork.
class SpoolerPrintQueues final : public PrintQueues {
  public:
    static constexpr const char* kParkingPort = "FILE:";

    std::optional<std::vector<PrintQueue>> List() override;
    bool Pause(const std::string& name) override;
    bool Resume(const std::string& name) override;

    // The port text recorded for each queue moved to "FILE:".
    const std::map<std::string, std::string>& moved() const { return moved_; }

  private:
    bool ChangePort(const std::string& name, const std::string& port);

    bool passOk_ = true;
    std::map<std::string, std::string> moved_;
};

}  // namespace tessaly
