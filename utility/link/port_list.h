#pragma once

#include <string>
#include <vector>

#include "port_settings.h"

namespace tessaly {

// A printer port that exists on this machine, named as PrinterPort::Setup
// accepts it.
struct PortEntry {
    std::string name;
    PortType type;
    std::string description;  // what the system knows about the device, may be empty
};

// Serial ports backed by a device (not every /dev/ttyS node: only those with a
// UART or an adapter behind them), in name order.
std::vector<PortEntry> ListSerialPorts(const std::string& sysClassTty = "/sys/class/tty");

// Every printer port of this machine: serial, parallel and USB printers.
std::vector<PortEntry> ListPorts();

const char* PortTypeName(PortType type);

}  // namespace tessaly
