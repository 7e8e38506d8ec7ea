#include "udev_usb.h"

#include <libudev.h>
#include <poll.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace tessaly {
namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using EnumeratePtr = std::unique_ptr<udev_enumerate, UdevDeleter>;
using DevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

std::string Text(const char* s) {
    return s ? std::string(s) : std::string();
}

// usblp names its nodes lpN; other usbmisc drivers (hiddev, ...) are no printers.
bool IsPrinterNode(udev_device* device) {
    const char* sysname = udev_device_get_sysname(device);
    return sysname != nullptr && std::strncmp(sysname, "lp", 2) == 0 &&
           udev_device_get_devnode(device) != nullptr;
}

// The identity of the USB device a printer node belongs to. The parent is owned by
// the child and needs no unref.
std::optional<UsbIdentity> ParentIdentity(udev_device* device, std::string* product = nullptr) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    if (usb == nullptr) return std::nullopt;
    UsbIdentity identity{Text(udev_device_get_sysattr_value(usb, "idVendor")),
                         Text(udev_device_get_sysattr_value(usb, "idProduct")),
                         Text(udev_device_get_sysattr_value(usb, "serial"))};
    if (identity.vendor.empty() || identity.product.empty()) return std::nullopt;
    if (product) *product = Text(udev_device_get_sysattr_value(usb, "product"));
    return identity;
}

// Calls visit(device) for every device of a subsystem, in enumeration order.
template <typename Visit>
void ForEachDevice(udev* u, const char* subsystem, Visit visit) {
    EnumeratePtr enumerate(udev_enumerate_new(u));
    if (!enumerate) return;
    udev_enumerate_add_match_subsystem(enumerate.get(), subsystem);
    if (udev_enumerate_scan_devices(enumerate.get()) < 0) return;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        DevicePtr device(udev_device_new_from_syspath(u, udev_list_entry_get_name(entry)));
        if (device) visit(device.get());
    }
}

// Whether two paths name the same device node (one may be a link to the other).
bool SameNode(const std::string& a, const std::string& b) {
    if (a == b) return true;
    struct stat sa {};
    struct stat sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && S_ISCHR(sa.st_mode) &&
           S_ISCHR(sb.st_mode) && sa.st_rdev == sb.st_rdev;
}

}  // namespace

std::vector<UsbPrinterNode> EnumerateUsbPrinterNodes() {
    std::vector<UsbPrinterNode> nodes;
    UdevPtr u(udev_new());
    if (!u) return nodes;
    ForEachDevice(u.get(), "usbmisc", [&](udev_device* device) {
        if (!IsPrinterNode(device)) return;
        std::string product;
        if (auto identity = ParentIdentity(device, &product))
            nodes.push_back({udev_device_get_devnode(device), *identity, product});
    });
    return nodes;
}

std::vector<std::string> EnumerateParallelNodes() {
    std::vector<std::string> nodes;
    UdevPtr u(udev_new());
    if (!u) return nodes;
    ForEachDevice(u.get(), "lp", [&](udev_device* device) {
        if (const char* node = udev_device_get_devnode(device)) nodes.emplace_back(node);
    });
    return nodes;
}

std::vector<std::string> FindUsbPrinters() {
    std::vector<std::string> entries;
    for (const UsbPrinterNode& printer : EnumerateUsbPrinterNodes()) {
        if (printer.identity.vendor == kR3UsbVendor && printer.identity.product == kR3UsbProduct)
            entries.push_back(kR3UsbPrefix + printer.node);
    }
    return entries;
}

UdevUsbWatcher::UdevUsbWatcher() = default;

UdevUsbWatcher::~UdevUsbWatcher() {
    Stop();
}

bool UdevUsbWatcher::Start() {
    Stop();
    lastError_.clear();
    udev_ = udev_new();
    if (udev_ == nullptr) {
        lastError_ = std::string("udev is not available (") + std::strerror(errno) + ").";
        return false;
    }
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usbmisc", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        lastError_ =
            std::string("the udev monitor cannot be started (") + std::strerror(errno) + ").";
        Stop();
        return false;
    }
    return true;
}

void UdevUsbWatcher::Stop() {
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
    monitor_ = nullptr;
    udev_ = nullptr;
}

int UdevUsbWatcher::Fd() const {
    return monitor_ ? udev_monitor_get_fd(monitor_) : -1;
}

std::vector<UsbEvent> UdevUsbWatcher::TakeEvents() {
    std::vector<UsbEvent> events;
    if (monitor_ == nullptr) return events;
    for (;;) {
        // Check first: receiving must never wait, whatever mode the socket is in.
        pollfd p{udev_monitor_get_fd(monitor_), POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
        DevicePtr device(udev_monitor_receive_device(monitor_));
        if (!device) break;
        const std::string action = Text(udev_device_get_action(device.get()));
        if (Text(udev_device_get_subsystem(device.get())) != "usbmisc" ||
            !IsPrinterNode(device.get()))
            continue;
        const std::string node = udev_device_get_devnode(device.get());
        if (action == "add") {
            events.push_back({UsbEvent::Action::Added, node, ParentIdentity(device.get())});
        } else if (action == "remove") {
            events.push_back({UsbEvent::Action::Removed, node, std::nullopt});
        }
    }
    return events;
}

std::optional<UsbIdentity> UdevUsbWatcher::IdentityOf(const std::string& node) {
    for (const UsbPrinterNode& printer : EnumerateUsbPrinterNodes()) {
        if (SameNode(printer.node, node)) return printer.identity;
    }
    return std::nullopt;
}

std::optional<std::string> UdevUsbWatcher::FindNode(const UsbIdentity& identity) {
    for (const UsbPrinterNode& printer : EnumerateUsbPrinterNodes()) {
        if (printer.identity == identity) return printer.node;
    }
    return std::nullopt;
}

}  // namespace tessaly
