#include "bounded_io.h"

#include <algorithm>

#include "win32_system.h"

namespace tessaly {
namespace {

constexpr DWORD kRetryEmptyReadMs = 10;

// Waits for the operation started on overlapped for at most waitMs; cancels it when
// the time runs out and waits for the cancellation, so that the buffer is no longer
// in use when this returns. Returns the bytes transferred.
DWORD Finish(HANDLE handle, OVERLAPPED& overlapped, BOOL started, DWORD waitMs, DWORD& error) {
    DWORD transferred = 0;
    if (started) {
        GetOverlappedResult(handle, &overlapped, &transferred, FALSE);
        return transferred;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_IO_PENDING) {
        error = code;
        return 0;
    }
    if (WaitForSingleObject(overlapped.hEvent, waitMs) != WAIT_OBJECT_0) {
        CancelIo(handle);
        error = ERROR_TIMEOUT;
    }
    // After a time-out the error is already ERROR_TIMEOUT; an operation cancelled by
    // another thread (the device was unplugged) ends with ERROR_OPERATION_ABORTED.
    if (!GetOverlappedResult(handle, &overlapped, &transferred, TRUE) && error == ERROR_SUCCESS)
        error = GetLastError();
    return transferred;
}

class Deadline {
  public:
    explicit Deadline(DWORD ms) : start_(GetTickCount()), ms_(ms) {}
    DWORD left() const {
        const DWORD spent = GetTickCount() - start_;
        return spent >= ms_ ? 0 : ms_ - spent;
    }

  private:
    DWORD start_;
    DWORD ms_;
};

}  // namespace

IoOutcome BoundedRead(HANDLE handle, std::uint8_t* buffer, std::uint32_t count,
                      const ReadBounds& bounds) {
    IoOutcome outcome;
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) {
        outcome.error = GetLastError();
        return outcome;
    }
    const Deadline total(bounds.totalMs);
    while (outcome.bytes < count) {
        DWORD wait = total.left();
        if (outcome.bytes > 0 && bounds.intervalMs != 0)
            wait = std::min<DWORD>(wait, bounds.intervalMs);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        ResetEvent(event.get());
        DWORD error = ERROR_SUCCESS;
        const BOOL started =
            ReadFile(handle, buffer + outcome.bytes, count - outcome.bytes, nullptr, &overlapped);
        const DWORD got = Finish(handle, overlapped, started, wait, error);
        outcome.bytes += got;
        if (error != ERROR_SUCCESS) {
            outcome.error = error;
            break;
        }
        if (got == 0) {
            // Nothing there yet and the device did not wait for it.
            const DWORD left = total.left();
            if (left == 0) {
                outcome.error = ERROR_TIMEOUT;
                break;
            }
            Sleep(std::min(left, kRetryEmptyReadMs));
        }
        if (total.left() == 0 && outcome.bytes < count) {
            outcome.error = ERROR_TIMEOUT;
            break;
        }
    }
    return outcome;
}

IoOutcome BoundedWrite(HANDLE handle, const std::uint8_t* data, std::uint32_t count,
                       const WriteBounds& bounds) {
    IoOutcome outcome;
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) {
        outcome.error = GetLastError();
        return outcome;
    }
    const Deadline total(bounds.totalMs == 0 ? INFINITE : bounds.totalMs);
    while (outcome.bytes < count) {
        DWORD wait = bounds.totalMs == 0 ? INFINITE : total.left();
        if (bounds.stallMs != 0) wait = std::min<DWORD>(wait, bounds.stallMs);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        ResetEvent(event.get());
        DWORD error = ERROR_SUCCESS;
        const BOOL started =
            WriteFile(handle, data + outcome.bytes, count - outcome.bytes, nullptr, &overlapped);
        const DWORD put = Finish(handle, overlapped, started, wait, error);
        outcome.bytes += put;
        // A cancelled write that still moved bytes was not stalled: go on.
        if (error == ERROR_TIMEOUT && put > 0 && (bounds.totalMs == 0 || total.left() > 0))
            continue;
        if (error != ERROR_SUCCESS) {
            outcome.error = error;
            break;
        }
        if (put == 0) {
            outcome.error = ERROR_WRITE_FAULT;
            break;
        }
    }
    return outcome;
}

bool BoundedDeviceControl(HANDLE handle, DWORD code, void* out, DWORD outSize, DWORD& returned,
                          DWORD timeoutMs, DWORD& error) {
    returned = 0;
    error = ERROR_SUCCESS;
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) {
        error = GetLastError();
        return false;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    const BOOL started =
        DeviceIoControl(handle, code, nullptr, 0, out, outSize, nullptr, &overlapped);
    returned = Finish(handle, overlapped, started, timeoutMs, error);
    return error == ERROR_SUCCESS;
}

}  // namespace tessaly
