#include "spooler_print_queues.h"

#include <windows.h>
#include <winspool.h>

#include "port_diversion.h"
#include "win32_system.h"

namespace tessaly {
namespace {

std::string Failed(const char* call, DWORD code) {
    return std::string(call) + " failed: " + SystemMessage(code) + " (error " +
           std::to_string(code) + ")";
}

}  // namespace

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
        queue.paused = queue.deviceUri == kParkingPort;
        if (!queue.name.empty()) queues.push_back(std::move(queue));
    }
    return queues;
}

QueueChange SpoolerPrintQueues::ChangePort(const std::string& name, const std::string& port) {
    PRINTER_DEFAULTSA access{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(name.c_str()), &printer, &access))
        return {false, Failed("OpenPrinter", GetLastError())};
    QueueChange change;
    DWORD needed = 0;
    if (!GetPrinterA(printer, 2, nullptr, 0, &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        passOk_ = false;
        change.error = Failed("GetPrinter", GetLastError());
    } else if (!passOk_) {
        change.error = "a queue before it could not be read, so no further queue is changed now";
    } else {
        std::vector<BYTE> record(needed, 0);
        auto* info = reinterpret_cast<PRINTER_INFO_2A*>(record.data());
        if (needed == 0 || !GetPrinterA(printer, 2, record.data(), needed, &needed)) {
            passOk_ = false;
            change.error = Failed("GetPrinter", GetLastError());
        } else {
            std::string text = port;
            info->pPortName = text.data();
            change.done = SetPrinterA(printer, 2, record.data(), 0) != 0;
            if (!change.done) change.error = Failed("SetPrinter", GetLastError());
        }
    }
    ClosePrinter(printer);
    return change;
}

QueueChange SpoolerPrintQueues::Pause(const PrintQueue& queue, const std::string&) {
    return ChangePort(queue.name, kParkingPort);
}

QueueChange SpoolerPrintQueues::Resume(const std::string& name, const std::string& former) {
    passOk_ = true;  // giving back is a pass of its own
    return ChangePort(name, former);
}

bool SpoolerPrintQueues::StillPaused(const PrintQueue& queue, const std::string&) const {
    return queue.deviceUri == kParkingPort;
}

std::string SpoolerPrintQueues::PauseAdvice(const std::string&) const {
    return "Run Tessaly as an administrator, or set the queue's port to FILE: yourself "
           "(printer properties, Ports) while you use the printer.";
}

std::string SpoolerPrintQueues::ResumeAdvice(const std::string& name,
                                             const std::string& former) const {
    return "Run Tessaly as an administrator, or set the port of the queue '" + name + "' back to " +
           former + " yourself (printer properties, Ports).";
}

std::string SpoolerPrintQueues::GivenBack(const std::string& name,
                                          const std::string& former) const {
    return "Moved queue " + name + " back to " + former +
           ", left on FILE: by an earlier run that did not finish.";
}

std::unique_ptr<PrintQueues> MakePlatformPrintQueues() {
    return std::make_unique<SpoolerPrintQueues>();
}

std::optional<PortQueueMatch> QueueMatchFor(const std::string& portName) {
    // Only the plain names: the spooler knows "\\.\COM10" and up by no port text
    // that could be told apart from COM1.
    if (portName.rfind("COM", 0) != 0 && portName.rfind("LPT", 0) != 0) return std::nullopt;
    return PortQueueMatch{portName, portName, {}};
}

}  // namespace tessaly
