#include "parallel_port.h"
#include "posix_parallel_device.h"
#include "posix_serial_device.h"
#include "posix_usb_device.h"
#include "printer_port.h"
#include "serial_port.h"
#include "udev_usb.h"
#include "usb_port.h"

namespace tessaly {

std::unique_ptr<ConcretePort> MakePlatformPort(PortType type) {
    switch (type) {
        case PortType::Serial:
            return std::make_unique<SerialPort>(std::make_unique<PosixSerialDevice>(),
                                                SystemClock::instance());
        case PortType::Parallel:
            return std::make_unique<ParallelPort>(std::make_unique<PosixParallelDevice>());
        case PortType::Usb:
            return std::make_unique<UsbPort>(std::make_unique<PosixUsbDevice>(),
                                             std::make_unique<UdevUsbWatcher>());
    }
    return nullptr;
}

}  // namespace tessaly
