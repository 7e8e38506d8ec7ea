#include "port_list.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "usb_device.h"

namespace tessaly {
namespace {

// The number after a "COM" or "LPT" device name; 0 when the name is not one.
int PortNumber(const std::string& name, const char* prefix) {
    if (name.rfind(prefix, 0) != 0 || name.size() < 4 || name.size() > 6) return 0;
    const std::string digits = name.substr(3);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits[0] == '0') return 0;
    return std::stoi(digits);
}

// Every DOS device name of this machine (COM1, LPT1, ...).
std::vector<std::string> DosDevices() {
    std::vector<char> buffer(64 * 1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length =
            QueryDosDeviceA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0) {
            std::vector<std::string> names;
            for (const char* p = buffer.data(); p < buffer.data() + length && *p != '\0';
                 p += std::strlen(p) + 1)
                names.emplace_back(p);
            return names;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        buffer.resize(buffer.size() * 4);
    }
    return {};
}

std::string Target(const std::string& name) {
    char target[512] = {};
    if (QueryDosDeviceA(name.c_str(), target, sizeof(target)) == 0) return {};
    return target;
}

std::vector<PortEntry> Numbered(const char* prefix, PortType type, const char* what) {
    std::vector<std::pair<int, std::string>> found;
    for (const std::string& name : DosDevices()) {
        const int number = PortNumber(name, prefix);
        if (number != 0) found.emplace_back(number, name);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    std::vector<PortEntry> ports;
    for (const auto& [number, name] : found) {
        // From COM10 on, Windows opens a serial port only under its device name.
        const std::string portName =
            type == PortType::Serial && number >= 10 ? "\\\\.\\" + name : name;
        std::string description = what;
        const std::string target = Target(name);
        if (!target.empty()) description += " (" + target + ")";
        ports.push_back({portName, type, description});
    }
    return ports;
}

}  // namespace

std::vector<PortEntry> ListSerialPorts(const std::string&) {
    return Numbered("COM", PortType::Serial, "serial port");
}

std::vector<PortEntry> ListPorts() {
    std::vector<PortEntry> ports = ListSerialPorts();
    for (PortEntry& entry : Numbered("LPT", PortType::Parallel, "parallel port"))
        ports.push_back(std::move(entry));
    for (const std::string& name : FindUsbPrinters())
        ports.push_back({name, PortType::Usb, "Vantreel R-3"});
    return ports;
}

}  // namespace tessaly
