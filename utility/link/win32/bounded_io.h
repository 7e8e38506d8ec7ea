#pragma once

#include <windows.h>

#include <cstdint>

#include "io_bounds.h"

namespace tessaly {

// Reads and writes on a handle opened with FILE_FLAG_OVERLAPPED, each bounded in
// time: an operation that the device does not complete within its limit is
// cancelled, and what it transferred so far is returned. Devices without time-outs
// of their own (USB printers, parallel ports) can thus never hold a caller forever.
struct IoOutcome {
    std::uint32_t bytes = 0;
    DWORD error = ERROR_SUCCESS;  // the first failure, ERROR_TIMEOUT when a limit ran out
};

// Returns once count bytes arrived, totalMs passed, or intervalMs passed after a
// byte without a further one (0: no interval limit). A device that answers a read
// with nothing at once is asked again every 10 ms until the total limit.
IoOutcome BoundedRead(HANDLE handle, std::uint8_t* buffer, std::uint32_t count,
                      const ReadBounds& bounds);

// Returns once everything is written, totalMs passed (0: no limit), or the device
// took nothing for stallMs (0: no limit).
IoOutcome BoundedWrite(HANDLE handle, const std::uint8_t* data, std::uint32_t count,
                       const WriteBounds& bounds);

// DeviceIoControl on an overlapped handle, waiting at most timeoutMs.
bool BoundedDeviceControl(HANDLE handle, DWORD code, void* out, DWORD outSize, DWORD& returned,
                          DWORD timeoutMs, DWORD& error);

}  // namespace tessaly
