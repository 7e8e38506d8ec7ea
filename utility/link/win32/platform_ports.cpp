#include "parallel_port.h"
#include "printer_port.h"
#include "serial_port.h"
#include "usb_port.h"
#include "win32_parallel_device.h"
#include "win32_serial_device.h"
#include "win32_usb_device.h"
#include "win32_usb_watcher.h"

namespace tessaly {

std::unique_ptr<ConcretePort> MakePlatformPort(PortType type) {
    switch (type) {
        case PortType::Serial:
            return std::make_unique<SerialPort>(std::make_unique<Win32SerialDevice>(),
                                                SystemClock::instance());
        case PortType::Parallel:
            return std::make_unique<ParallelPort>(std::make_unique<Win32ParallelDevice>());
        case PortType::Usb: {
            auto slot = std::make_shared<UsbHandleSlot>();
            return std::make_unique<UsbPort>(std::make_unique<Win32UsbDevice>(slot),
                                             std::make_unique<Win32UsbWatcher>(slot));
        }
    }
    return nullptr;
}

}  // namespace tessaly
