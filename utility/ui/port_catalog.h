#pragma once

#include <string>
#include <vector>

namespace tessaly::ui {

// Where the main dialog's port list comes from, by interface type.
class PortCatalog {
  public:
    virtual ~PortCatalog() = default;
    virtual std::vector<std::string> SerialPorts() = 0;
    virtual std::vector<std::string> ParallelPorts() = 0;
    // R-3 printers attached by USB, named as the printer port accepts them.
    virtual std::vector<std::string> UsbPrinters() = 0;
};

// The ports this machine has. `extraSerial` (the built-in virtual printer) comes
// first in the serial list.
class SystemPortCatalog final : public PortCatalog {
  public:
    explicit SystemPortCatalog(std::vector<std::string> extraSerial = {})
        : extraSerial_(std::move(extraSerial)) {}
    std::vector<std::string> SerialPorts() override;
    std::vector<std::string> ParallelPorts() override;
    std::vector<std::string> UsbPrinters() override;

  private:
    std::vector<std::string> extraSerial_;
};

}  // namespace tessaly::ui
