#pragma once

#include <memory>
#include <string>

#ifdef _WIN32
#include "clock.h"
#include "printer_port.h"
#endif

namespace tessaly::cli {

// The virtual R-3 served on a pseudo-terminal inside this process, so that the
// command line can be tried without hardware through the real serial port code.
class BuiltInPrinter {
  public:
    BuiltInPrinter();
    ~BuiltInPrinter();
    bool Start(std::string& error);
    std::string PortName() const;
#ifdef _WIN32
    // Without pseudo-terminals the printer is reached in-process: every port made
    // here talks to it, whatever the port name.
    PortFactory Factory(Clock& clock);
#endif

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaly::cli
