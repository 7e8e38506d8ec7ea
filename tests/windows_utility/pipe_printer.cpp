#include "pipe_printer.h"

#include <vector>

#include "bounded_io.h"
#include "clock.h"

namespace wintest {

PipePrinter::PipePrinter(std::string path) : path_(std::move(path)) {}

PipePrinter::~PipePrinter() {
    Stop();
}

bool PipePrinter::Start() {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    listening_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Serve(); });
    return WaitForSingleObject(listening_, 5000) == WAIT_OBJECT_0;
}

void PipePrinter::Stop() {
    if (!thread_.joinable()) return;
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
    CloseHandle(listening_);
}

int PipePrinter::selfTests() {
    std::lock_guard lock(engineMutex_);
    return engine_.selfTestCount();
}

std::size_t PipePrinter::bytesReceived() {
    std::lock_guard lock(engineMutex_);
    return engine_.receivedLog().size();
}

void PipePrinter::Serve() {
    auto& clock = tessaly::SystemClock::instance();
    while (WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) {
        HANDLE pipe = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) return;
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        bool connected = ConnectNamedPipe(pipe, &overlapped) != 0;
        if (!connected && GetLastError() == ERROR_PIPE_CONNECTED) connected = true;
        waiting_ = !connected;
        SetEvent(listening_);
        if (!connected) {
            HANDLE waits[2] = {overlapped.hEvent, stop_};
            connected = WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0;
            if (!connected) CancelIo(pipe);
        }
        waiting_ = false;
        CloseHandle(overlapped.hEvent);
        if (connected) {
            ++connections_;
            std::vector<std::uint8_t> buffer(4096);
            while (WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) {
                const auto got = tessaly::BoundedRead(pipe, buffer.data(),
                                                      static_cast<std::uint32_t>(buffer.size()),
                                                      tessaly::ReadBounds{20, 5});
                if (got.error != ERROR_SUCCESS && got.error != ERROR_TIMEOUT) break;
                std::vector<std::uint8_t> answer(4096);
                std::size_t n = 0;
                {
                    std::lock_guard lock(engineMutex_);
                    if (got.bytes > 0) engine_.receive(buffer.data(), got.bytes, clock.now());
                    engine_.tick(clock.now());
                    n = engine_.takeOutput(answer.data(), answer.size(), clock.now());
                }
                if (n > 0)
                    tessaly::BoundedWrite(pipe, answer.data(), static_cast<std::uint32_t>(n),
                                          tessaly::WriteBounds{2000, 0});
            }
        }
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    }
}

}  // namespace wintest
