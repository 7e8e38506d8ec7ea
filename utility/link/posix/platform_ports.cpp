#include "posix_serial_device.h"
#include "printer_port.h"
#include "serial_port.h"

namespace tessaly {

std::unique_ptr<ConcretePort> MakePlatformPort(PortType type) {
    switch (type) {
        case PortType::Serial:
            return std::make_unique<SerialPort>(std::make_unique<PosixSerialDevice>(),
                                                SystemClock::instance());
        case PortType::Parallel:
        case PortType::Usb:
            break;
    }
    return nullptr;
}

}  // namespace tessaly
