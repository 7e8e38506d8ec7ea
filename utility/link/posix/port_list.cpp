#include "port_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "udev_usb.h"

namespace tessaly {
namespace fs = std::filesystem;
namespace {

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Natural order, so ttyS2 comes before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& s) {
        const auto digits = s.find_last_not_of("0123456789") + 1;
        const std::string tail = s.substr(digits);
        return std::pair{s.substr(0, digits), tail.empty() ? -1L : std::stol(tail.substr(0, 9))};
    };
    return split(a) < split(b);
}

}  // namespace

std::vector<PortEntry> ListSerialPorts(const std::string& sysClassTty) {
    std::vector<PortEntry> ports;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysClassTty, ec)) {
        const fs::path dir = entry.path();
        const std::string name = dir.filename().string();
        // Virtual consoles and pseudo-terminals have no device behind them.
        if (!fs::exists(dir / "device", ec)) continue;
        // A legacy UART slot without a chip reports type 0.
        if (fs::exists(dir / "type", ec) && ReadLine(dir / "type") == "0") continue;
        // USB adapters name their product two levels up (interface, then device).
        std::string description = ReadLine(dir / "device" / ".." / "product");
        if (description.empty()) {
            description = name.rfind("ttyS", 0) == 0 ? "built-in serial port" : "serial adapter";
        }
        ports.push_back({"/dev/" + name, PortType::Serial, description});
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry& a, const PortEntry& b) { return NaturalLess(a.name, b.name); });
    return ports;
}

std::vector<PortEntry> ListPorts() {
    std::vector<PortEntry> ports = ListSerialPorts();
    for (const std::string& node : EnumerateParallelNodes())
        ports.push_back({node, PortType::Parallel, "parallel port"});
    for (const UsbPrinterNode& printer : EnumerateUsbPrinterNodes()) {
        if (printer.identity.vendor != kR3UsbVendor || printer.identity.product != kR3UsbProduct)
            continue;
        std::string description = printer.product.empty() ? "Vantreel R-3" : printer.product;
        if (!printer.identity.serial.empty())
            description += " (serial number " + printer.identity.serial + ")";
        ports.push_back({kR3UsbPrefix + printer.node, PortType::Usb, description});
    }
    return ports;
}

}  // namespace tessaly
