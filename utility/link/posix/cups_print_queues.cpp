#include "cups_print_queues.h"

#include <cups/cups.h>

#include <algorithm>
#include <memory>

#include "port_diversion.h"
#include "posix_parallel_device.h"
#include "posix_serial_device.h"
#include "printer_port.h"
#include "udev_usb.h"

namespace tessaly {
namespace {

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using HttpPtr = std::unique_ptr<http_t, HttpCloser>;
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;

// Diversion is best effort: a server that wants a password does not get one, and
// nobody is asked on the terminal.
const char* NoPassword(const char*, http_t*, const char*, const char*, void*) {
    return nullptr;
}

// Gives up on a request the server has not answered within the time-out.
int GiveUp(http_t*, void*) {
    return 0;
}

HttpPtr Connect() {
    cupsSetPasswordCB2(NoPassword, nullptr);
    HttpPtr http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              CupsPrintQueues::kConnectTimeoutMs, nullptr));
    if (http) httpSetTimeout(http.get(), CupsPrintQueues::kRequestTimeoutSeconds, GiveUp, nullptr);
    return http;
}

QueueChange PrinterRequest(ipp_op_t operation, const std::string& name,
                           const std::string& note = {}) {
    HttpPtr http = Connect();
    if (!http) return {false, std::string("the print system cannot be reached at ") + cupsServer()};
    ipp_t* request = ippNewRequest(operation);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                     "/printers/%s", name.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    if (!note.empty())
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_TEXT, "printer-state-message", nullptr,
                     note.c_str());
    IppPtr response(cupsDoRequest(http.get(), request, "/admin/"));
    if (response && cupsLastError() <= IPP_STATUS_OK_CONFLICTING) return {true, {}};
    const char* why = cupsLastErrorString();
    return {false, why != nullptr && *why != '\0' ? why : ippErrorString(cupsLastError())};
}

}  // namespace

bool CupsPrintQueues::IsLocalServer(const std::string& server) {
    if (server.starts_with("/")) return true;  // a domain socket
    std::string host = server;
    if (host.starts_with("[")) {
        host = host.substr(1, host.find(']') - 1);
    } else if (std::count(host.begin(), host.end(), ':') == 1) {
        host = host.substr(0, host.find(':'));
    }
    return host == "localhost" || host == "::1" || host.starts_with("127.");
}

std::string CupsPrintQueues::Server() const {
    // The scheduler's standard socket and its loopback address are one server.
    const std::string server = cupsServer();
    if (server == "/run/cups/cups.sock" || server == "/var/run/cups/cups.sock" ||
        server == "localhost" || server == "localhost:631")
        return "localhost";
    return server;
}

std::optional<std::vector<PrintQueue>> CupsPrintQueues::List() {
    if (!IsLocalServer(cupsServer())) return std::vector<PrintQueue>{};
    HttpPtr http = Connect();
    if (!http) return std::nullopt;
    static const char* const kAttributes[] = {"printer-name", "device-uri", "printer-state",
                                              "printer-state-message", "printer-type"};
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kAttributes)), nullptr, kAttributes);
    IppPtr response(cupsDoRequest(http.get(), request, "/"));
    if (!response || cupsLastError() > IPP_STATUS_OK_CONFLICTING) return std::nullopt;

    std::vector<PrintQueue> queues;
    PrintQueue queue;
    int type = 0;
    bool inPrinter = false;
    const auto finish = [&] {
        // Only queues of this machine with a device of their own.
        if (inPrinter && !queue.name.empty() && !queue.deviceUri.empty() &&
            !(type & (CUPS_PRINTER_REMOTE | CUPS_PRINTER_CLASS)))
            queues.push_back(queue);
        queue = PrintQueue{};
        type = 0;
        inPrinter = false;
    };
    for (ipp_attribute_t* attr = ippFirstAttribute(response.get()); attr != nullptr;
         attr = ippNextAttribute(response.get())) {
        if (ippGetGroupTag(attr) != IPP_TAG_PRINTER) {
            finish();
            continue;
        }
        inPrinter = true;
        const char* name = ippGetName(attr);
        if (name == nullptr) continue;
        const std::string attrName = name;
        if (attrName == "printer-name" && ippGetValueTag(attr) == IPP_TAG_NAME) {
            queue.name = ippGetString(attr, 0, nullptr);
        } else if (attrName == "device-uri" && ippGetValueTag(attr) == IPP_TAG_URI) {
            queue.deviceUri = ippGetString(attr, 0, nullptr);
        } else if (attrName == "printer-state" && ippGetValueTag(attr) == IPP_TAG_ENUM) {
            queue.paused = ippGetInteger(attr, 0) == IPP_PSTATE_STOPPED;
        } else if (attrName == "printer-state-message" && ippGetValueTag(attr) == IPP_TAG_TEXT) {
            queue.stateMessage = ippGetString(attr, 0, nullptr);
        } else if (attrName == "printer-type" && ippGetValueTag(attr) == IPP_TAG_ENUM) {
            type = ippGetInteger(attr, 0);
        }
    }
    finish();
    return queues;
}

QueueChange CupsPrintQueues::Pause(const PrintQueue& queue, const std::string& note) {
    return PrinterRequest(IPP_OP_PAUSE_PRINTER, queue.name, note);
}

QueueChange CupsPrintQueues::Resume(const std::string& name, const std::string&) {
    return PrinterRequest(IPP_OP_RESUME_PRINTER, name);
}

std::unique_ptr<PrintQueues> MakePlatformPrintQueues() {
    return std::make_unique<CupsPrintQueues>();
}

std::optional<PortQueueMatch> QueueMatchFor(const std::string& portName) {
    const auto choice = ChoosePort(portName);
    if (!choice) return std::nullopt;
    PortQueueMatch match;
    switch (choice->type) {
        case PortType::Serial:
            match.text = PosixSerialDevice::DevicePath(portName);
            break;
        case PortType::Parallel:
            match.text = PosixParallelDevice::DevicePath(portName);
            break;
        case PortType::Usb:
            // A queue names a USB printer by its serial number (usb://Make/Model?serial=...)
            // or, with an older back end, by its usblp node.
            match.text = choice->device;
            if (const auto identity = UdevUsbWatcher().IdentityOf(choice->device))
                match.usbSerial = identity->serial;
            break;
    }
    if (match.text.empty()) return std::nullopt;
    match.port = match.text;
    return match;
}

}  // namespace tessaly
