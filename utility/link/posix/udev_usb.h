#pragma once

#include <string>
#include <vector>

#include "usb_device.h"

struct udev;
struct udev_monitor;

namespace tessaly {

// A USB printer node the system knows (any make).
struct UsbPrinterNode {
    std::string node;  // /dev/usb/lpN
    UsbIdentity identity;
    std::string product;  // the product text the printer reports, may be empty
};

// Every USB printer node (usblp) present, in udev's enumeration order.
std::vector<UsbPrinterNode> EnumerateUsbPrinterNodes();

// Parallel port nodes of the lp driver, in udev's enumeration order.
std::vector<std::string> EnumerateParallelNodes();

// USB printer notices from udev: a netlink monitor on the "usbmisc" subsystem.
class UdevUsbWatcher final : public UsbWatcher {
  public:
    UdevUsbWatcher();
    ~UdevUsbWatcher() override;
    UdevUsbWatcher(const UdevUsbWatcher&) = delete;
    UdevUsbWatcher& operator=(const UdevUsbWatcher&) = delete;

    bool Start() override;
    void Stop() override;
    int Fd() const override;
    std::vector<UsbEvent> TakeEvents() override;
    std::optional<UsbIdentity> IdentityOf(const std::string& node) override;
    std::optional<std::string> FindNode(const UsbIdentity& identity) override;
    std::string LastError() const override { return lastError_; }

  private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::string lastError_;
};

}  // namespace tessaly
