#pragma once

#include <cstdint>
#include <span>

#include "clock.h"
#include "notifier.h"
#include "printer_port.h"

namespace tessaly {

// What a printer exchange works with: the open port, the clock every fixed wait
// goes through, and where messages go.
struct Session {
    PrinterPort& port;
    Clock& clock;
    Notifier& notifier;

    std::uint32_t Write(std::span<const std::uint8_t> bytes) {
        return port.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
};

}  // namespace tessaly
