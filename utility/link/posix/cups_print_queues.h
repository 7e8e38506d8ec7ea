#pragma once

#include "print_queues.h"

namespace tessaly {

// The local CUPS queues, reached the way every CUPS client reaches its server, so
// that CUPS_SERVER and client.conf are honoured. Never prompts for a password and
// never waits on the server for long: a server that does not answer counts as no
// print system. Only a scheduler of this machine (a domain socket or a loopback
// address) has queues on our devices: a remote server lists none.
class CupsPrintQueues final : public PrintQueues {
  public:
    static constexpr int kConnectTimeoutMs = 3000;
    static constexpr double kRequestTimeoutSeconds = 5.0;

    std::optional<std::vector<PrintQueue>> List() override;
    // Stops the queue with the note as its state message (what `lpstat -p` shows).
    QueueChange Pause(const PrintQueue& queue, const std::string& note) override;
    QueueChange Resume(const std::string& name, const std::string& former) override;
    std::string Server() const override;

    // Whether a server named as cupsServer() names it runs on this machine.
    static bool IsLocalServer(const std::string& server);
};

}  // namespace tessaly
