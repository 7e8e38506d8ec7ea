#pragma once

#include <memory>
#include <string>

namespace tessaly::cli {

// The virtual R-3 served on a pseudo-terminal inside this process, so that the
// command line can be tried without hardware through the real serial port code.
class BuiltInPrinter {
  public:
    BuiltInPrinter();
    ~BuiltInPrinter();
    bool Start(std::string& error);
    std::string PortName() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaly::cli
