#include "win32_parallel_device.h"

#include "bounded_io.h"

namespace tessaly {
namespace {

constexpr std::uint8_t kPaperEmpty = 0x04;    // PARALLEL_PAPER_EMPTY
constexpr std::uint8_t kOffLine = 0x08;       // PARALLEL_OFF_LINE
constexpr std::uint8_t kPowerOff = 0x10;      // PARALLEL_POWER_OFF
constexpr std::uint8_t kNotConnected = 0x20;  // PARALLEL_NOT_CONNECTED
constexpr std::uint8_t kBusy = 0x40;          // PARALLEL_BUSY
constexpr std::uint8_t kInitOrAutoFeed = 0x03;

// Reads an I/O port directly, which only the Windows 95/98/Me family allows a program.
std::uint8_t ReadIoPort(std::uint16_t address) {
#if defined(__i386__) || defined(__x86_64__)
    std::uint8_t value = 0;
    __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(address));
    return value;
#else
    (void)address;
    return Win32ParallelDevice::kNoPrinter;
#endif
}

}  // namespace

Win32ParallelDevice::~Win32ParallelDevice() {
    Close();
}

bool Win32ParallelDevice::Open(const std::string& name) {
    Close();
    name_ = name;
    lastError_.clear();
    HANDLE handle =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        lastError_ = OpenFailureText(name, GetLastError());
        return false;
    }
    handle_.reset(handle);
    return true;
}

ParallelStatus Win32ParallelDevice::DecodeDriverStatus(std::uint8_t status) {
    ParallelStatus decoded;
    decoded.selected =
        (status & kSelected) != 0 && (status & (kOffLine | kPowerOff | kNotConnected)) == 0;
    decoded.busy = (status & kBusy) != 0;
    decoded.paperOut = (status & kPaperEmpty) != 0;
    decoded.error = (status & kInitOrAutoFeed) != 0;
    return decoded;
}

std::uint16_t Win32ParallelDevice::StatusRegister(const std::string& name) {
    if (name == "LPT1") return 0x379;
    if (name == "LPT2") return 0x279;
    return 0x3BD;
}

std::optional<ParallelStatus> Win32ParallelDevice::QueryDriver() {
    std::uint8_t status = 0;
    DWORD returned = 0;
    DWORD error = ERROR_SUCCESS;
    if (!BoundedDeviceControl(handle_.get(), kQueryInformation, &status, 1, returned,
                              kStatusQueryMs, error) ||
        returned != 1) {
        lastError_ = "The status of the printer on " + name_ + " cannot be read (" +
                     SystemMessage(error == ERROR_SUCCESS ? ERROR_INVALID_DATA : error) +
                     "): check that a printer is connected and switched on.";
        return std::nullopt;
    }
    return DecodeDriverStatus(status);
}

std::optional<ParallelStatus> Win32ParallelDevice::QueryStatusRegister() {
    if (ReadIoPort(StatusRegister(name_)) == kNoPrinter) {
        lastError_ =
            "No printer answers on " + name_ + ": check that it is connected and switched on.";
        return std::nullopt;
    }
    ParallelStatus ready;
    ready.selected = true;
    return ready;
}

std::optional<ParallelStatus> Win32ParallelDevice::QueryStatus() {
    auto status = isLegacyWindows() ? QueryStatusRegister() : QueryDriver();
    if (status && status->selected && !status->busy && !status->paperOut && !status->error) {
        // Ready: start from a clean port. These may fail on ports that buffer
        // nothing, which does not matter.
        PurgeComm(handle_.get(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    return status;
}

std::uint32_t Win32ParallelDevice::Write(const std::uint8_t* data, std::uint32_t count,
                                         const WriteBounds& bounds) {
    const IoOutcome outcome = BoundedWrite(handle_.get(), data, count, bounds);
    if (outcome.bytes != count)
        lastError_ = outcome.error == ERROR_TIMEOUT || outcome.error == ERROR_WRITE_FAULT
                         ? "The printer on " + name_ +
                               " stopped taking data: check that it is on line and has paper."
                         : "Writing to " + name_ + " failed: " + SystemMessage(outcome.error) + ".";
    return outcome.bytes;
}

std::uint32_t Win32ParallelDevice::Read(std::uint8_t* buffer, std::uint32_t count,
                                        const ReadBounds& bounds) {
    return BoundedRead(handle_.get(), buffer, count, bounds).bytes;
}

void Win32ParallelDevice::Close() {
    if (handle_.valid()) CancelIo(handle_.get());
    handle_.reset();
}

}  // namespace tessaly
