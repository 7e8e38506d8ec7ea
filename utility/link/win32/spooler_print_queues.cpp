#include "spooler_print_queues.h"

#include <windows.h>
#include <winspool.h>

#include "port_diversion.h"

namespace tessaly {

std::optional<std::vector<PrintQueue>> SpoolerPrintQueues::List() {
    passOk_ = true;
    DWORD needed = 0;
    DWORD count = 0;
    std::vector<PrintQueue> queues;
    if (EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count))
        return queues;                                                     // no local queue at all
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;  // no spooler
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count))
        return std::nullopt;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        PrintQueue queue;
        queue.name = info[i].pPrinterName != nullptr ? info[i].pPrinterName : "";
        queue.deviceUri = info[i].pPortName != nullptr ? info[i].pPortName : "";
        if (!queue.name.empty()) queues.push_back(std::move(queue));
    }
    return queues;
}

bool SpoolerPrintQueues::ChangePort(const std::string& name, const std::string& port) {
    PRINTER_DEFAULTSA access{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(name.c_str()), &printer, &access)) return false;
    bool stored = false;
    DWORD needed = 0;
    if (!GetPrinterA(printer, 2, nullptr, 0, &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        passOk_ = false;
    if (passOk_) {
        std::vector<BYTE> record(needed, 0);
        auto* info = reinterpret_cast<PRINTER_INFO_2A*>(record.data());
        if (needed == 0 || !GetPrinterA(printer, 2, record.data(), needed, &needed)) {
            passOk_ = false;
        } else {
            const std::string previous = info->pPortName != nullptr ? info->pPortName : "";
            std::string text = port;
            info->pPortName = text.data();
            stored = SetPrinterA(printer, 2, record.data(), 0) != 0;
            // The first port text a queue had is the one to put back.
            if (stored && port == kParkingPort && !moved_.count(name)) moved_[name] = previous;
        }
    }
    ClosePrinter(printer);
    return stored;
}

bool SpoolerPrintQueues::Pause(const std::string& name) {
    return ChangePort(name, kParkingPort);
}

bool SpoolerPrintQueues::Resume(const std::string& name) {
    const auto it = moved_.find(name);
    if (it == moved_.end()) return true;  // never moved: nothing to put back
    passOk_ = true;
    if (!ChangePort(name, it->second)) return false;
    moved_.erase(name);
    return true;
}

std::unique_ptr<PrintQueues> MakePlatformPrintQueues() {
    return std::make_unique<SpoolerPrintQueues>();
}

std::string QueuePortText(const std::string& portName) {
    // Only the plain names: the spooler knows "\\.\COM10" and up by no port text
    // that could be told apart from COM1.
    if (portName.rfind("COM", 0) == 0 || portName.rfind("LPT", 0) == 0) return portName;
    return {};
}

}  // namespace tessaly
