#include "port_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

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
        const fs::path driver = fs::read_symlink(dir / "device" / "driver", ec);
        std::string description = ec ? std::string() : driver.filename().string();
        const std::string product = ReadLine(dir / "device" / ".." / "product");
        if (!product.empty()) description = product;
        ports.push_back({"/dev/" + name, PortType::Serial, description});
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry& a, const PortEntry& b) { return NaturalLess(a.name, b.name); });
    return ports;
}

const char* PortTypeName(PortType type) {
    switch (type) {
        case PortType::Serial:
            return "serial";
        case PortType::Parallel:
            return "parallel";
        case PortType::Usb:
            return "usb";
    }
    return "unknown";
}

std::vector<PortEntry> ListPorts() {
    return ListSerialPorts();
}

}  // namespace tessaly
