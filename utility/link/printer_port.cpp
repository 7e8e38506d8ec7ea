#include "printer_port.h"

#include <climits>
#include <cstdlib>
#include <utility>

#include "port_list.h"

namespace tessaly {
namespace {

bool StartsWith(const std::string& s, std::string_view prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Resolves symbolic links so that a link such as the virtual printer's --link
// path is classified by the device it points to.
std::string ResolvedPath(const std::string& path) {
#ifdef _WIN32
    return path;  // no device paths of this kind on Windows
#else
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
#endif
}

std::optional<PortType> DevicePathType(const std::string& path) {
    if (StartsWith(path, "/dev/usb/lp")) return PortType::Usb;
    if (StartsWith(path, "/dev/lp") || StartsWith(path, "/dev/parport")) return PortType::Parallel;
    if (StartsWith(path, "/dev/pts/") || StartsWith(path, "/dev/serial/")) return PortType::Serial;
    // /dev/tty alone is the controlling terminal, never a printer line.
    if (StartsWith(path, "/dev/tty") && path.size() > 8) return PortType::Serial;
    return std::nullopt;
}

}  // namespace

std::optional<PortChoice> ChoosePort(const std::string& name) {
    if (StartsWith(name, "COM") || StartsWith(name, "\\\\.\\COM"))
        return PortChoice{PortType::Serial, name};
    if (StartsWith(name, "LPT")) return PortChoice{PortType::Parallel, name};
    if (name.find("R-3") != std::string::npos)
        return PortChoice{PortType::Usb, name.size() > 4 ? name.substr(4) : std::string()};
    if (StartsWith(name, "/")) {
        if (auto type = DevicePathType(name)) return PortChoice{*type, name};
        if (auto type = DevicePathType(ResolvedPath(name))) return PortChoice{*type, name};
    }
    return std::nullopt;
}

PrinterPort::PrinterPort() : PrinterPort(MakePlatformPort) {}

PrinterPort::PrinterPort(PortFactory factory) : factory_(std::move(factory)) {}

PrinterPort::~PrinterPort() {
    Close();
}

bool PrinterPort::Setup(PortSettings settings) {
    Close();
    auto choice = ChoosePort(settings.portName);
    if (!choice) return false;
    type_ = choice->type;
    port_ = factory_(choice->type);
    if (!port_) return false;
    settings.portName = choice->device;
    return port_->Setup(settings);
}

bool PrinterPort::Open(int unused) {
    return port_ && port_->Open(unused);
}

std::uint32_t PrinterPort::Write(const std::uint8_t* data, std::uint32_t count) {
    if (!port_ || data == nullptr || count == 0) return 0;
    return port_->Write(data, count);
}

std::uint32_t PrinterPort::Read(std::uint8_t* buffer, std::uint32_t count,
                                std::uint32_t timeoutMs) {
    if (!port_ || buffer == nullptr || count == 0) return 0;
    return port_->Read(buffer, count, timeoutMs);
}

void PrinterPort::Close() {
    if (!port_) return;
    port_->Close();
    port_.reset();
}

std::string PrinterPort::LastError() const {
    return port_ ? port_->LastError() : std::string();
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

}  // namespace tessaly
