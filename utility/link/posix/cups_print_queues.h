#pragma once

#include "print_queues.h"

namespace tessaly {

// The local CUPS queues, reached the way every CUPS client reaches its server, so
// that CUPS_SERVER and client.conf are honoured. Never prompts for a password and
// never waits on the server for long: a server that does not answer counts as no
// print system.
class CupsPrintQueues final : public PrintQueues {
  public:
    static constexpr int kConnectTimeoutMs = 3000;
    static constexpr double kRequestTimeoutSeconds = 5.0;

    std::optional<std::vector<PrintQueue>> List() override;
    bool Pause(const std::string& name) override;
    bool Resume(const std::string& name) override;
};

}  // namespace tessaly
