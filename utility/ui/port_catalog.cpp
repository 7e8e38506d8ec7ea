#include "port_catalog.h"

#include "port_list.h"
#include "usb_device.h"

namespace tessaly::ui {
namespace {

std::vector<std::string> NamesOfType(PortType type) {
    std::vector<std::string> names;
    for (const PortEntry& entry : ListPorts())
        if (entry.type == type) names.push_back(entry.name);
    return names;
}

}  // namespace

std::vector<std::string> SystemPortCatalog::SerialPorts() {
    std::vector<std::string> names = extraSerial_;
    for (const PortEntry& entry : ListSerialPorts()) names.push_back(entry.name);
    return names;
}

std::vector<std::string> SystemPortCatalog::ParallelPorts() {
    return NamesOfType(PortType::Parallel);
}

std::vector<std::string> SystemPortCatalog::UsbPrinters() {
    return FindUsbPrinters();
}

}  // namespace tessaly::ui
