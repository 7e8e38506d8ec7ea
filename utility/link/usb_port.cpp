#include "usb_port.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace tessaly {

UsbPort::UsbPort(std::unique_ptr<UsbDevice> device, std::unique_ptr<UsbWatcher> watcher)
    : device_(std::move(device)), watcher_(std::move(watcher)) {
    watcher_->SetNoticeHandler([this] { HandleEventsIfIdle(); });
}

UsbPort::~UsbPort() {
    Close();
}

bool UsbPort::Setup(const PortSettings& settings) {
    std::lock_guard lock(ioLock_);
    devicePath_ = settings.portName;
    return !devicePath_.empty();
}

bool UsbPort::Open(int) {
    std::lock_guard lock(ioLock_);
    if (device_->IsOpen()) return isOpen_;
    lastError_.clear();
    // Watch before opening, so an unplug right after the open is not missed.
    if (!watching_) {
        if (!watcher_->Start()) {
            lastError_ = "Cannot follow the USB printer being unplugged and plugged in: " +
                         watcher_->LastError();
            return false;
        }
        watching_ = true;
    }
    if (!ReopenLocked()) return false;
    isOpen_ = true;
    deviceState_ = 1;
    return true;
}

bool UsbPort::Reopen() {
    std::lock_guard lock(ioLock_);
    return ReopenLocked();
}

bool UsbPort::ReopenLocked() {
    device_->Close();
    if (!device_->Open(devicePath_)) {
        lastError_ = device_->LastError();
        return false;
    }
    if (auto identity = watcher_->IdentityOf(devicePath_)) identity_ = std::move(identity);
    return true;
}

void UsbPort::HandleDeviceEvents() {
    std::lock_guard lock(ioLock_);
    HandleEventsLocked();
}

void UsbPort::HandleEventsIfIdle() {
    std::unique_lock lock(ioLock_, std::try_to_lock);
    if (lock.owns_lock()) HandleEventsLocked();
}

void UsbPort::HandleEventsLocked() {
    if (!watching_) return;
    const std::vector<UsbEvent> events = watcher_->TakeEvents();
    if (events.empty()) return;
    for (const UsbEvent& event : events) {
        if (event.action == UsbEvent::Action::Removed && deviceState_ == 1 &&
            event.node == devicePath_) {
            device_->Close();
            deviceState_ = -1;
        }
    }
    if (deviceState_ != -1 || !isOpen_) return;
    // The printer is away: look for it again when something arrives. Its node may
    // differ from the one it had, so it is recognised by its identity. A notice of
    // its removal can come before the system stops listing it, so a removal alone
    // never leads to a search.
    const bool arrivals = std::any_of(events.begin(), events.end(), [](const UsbEvent& event) {
        return event.action == UsbEvent::Action::Added;
    });
    if (!arrivals) return;
    std::optional<std::string> node;
    for (const UsbEvent& event : events) {
        if (event.action == UsbEvent::Action::Added && identity_ && event.identity == identity_)
            node = event.node;
    }
    if (!node && identity_) node = watcher_->FindNode(*identity_);
    if (!node && !identity_) node = devicePath_;
    if (!node) return;
    if (device_->Open(*node)) {
        devicePath_ = *node;
        deviceState_ = 1;
        lastError_.clear();
    }
}

std::uint32_t UsbPort::Write(const std::uint8_t* data, std::uint32_t count) {
    if (data == nullptr || count == 0) return 0;
    std::lock_guard lock(ioLock_);
    if (!isOpen_) return 0;
    HandleEventsLocked();
    if (!device_->IsOpen()) {
        lastError_ = "The printer was unplugged: plug it in again and switch it on.";
        return 0;
    }
    const std::uint32_t written = device_->Write(data, count, WriteBounds{0, kWriteStallMs});
    if (written != count) lastError_ = device_->LastError();
    // An unplug during the write ended it; let go of the device now.
    HandleEventsLocked();
    if (written != count && !device_->IsOpen())
        lastError_ = "The printer was unplugged: plug it in again and switch it on.";
    return written;
}

std::uint32_t UsbPort::Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs) {
    if (buffer == nullptr || count == 0) return 0;
    std::lock_guard lock(ioLock_);
    if (!isOpen_) return 0;
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    const auto leftMs = [&deadline] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
        return static_cast<std::uint32_t>(std::max<std::int64_t>(left, 0));
    };
    // Wait for the reply in short slices with the notices handled between them, so that
    // a printer unplugged and plugged in again while a reply is awaited is found again,
    // and the reply read from it, within the same timeout. Every read asks for the
    // whole rest of the reply in one call.
    for (;;) {
        HandleEventsLocked();
        const std::uint32_t slice = std::min(leftMs(), kNoticeCheckMs);
        if (device_->IsOpen()) {
            std::uint32_t got = device_->Read(buffer, count, ReadBounds{slice, kReadIntervalMs});
            if (got > 0) {
                // Once the reply flows, more of it may follow until it pauses.
                while (got < count) {
                    const std::uint32_t more =
                        device_->Read(buffer + got, count - got,
                                      ReadBounds{std::min(leftMs(), kReadIntervalMs), 0});
                    if (more == 0) break;
                    got += more;
                }
                return got;
            }
        } else {
            lastError_ = "The printer was unplugged: plug it in again and switch it on.";
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        }
        if (leftMs() == 0) return 0;
    }
}

bool UsbPort::WaitSent() {
    std::lock_guard lock(ioLock_);
    if (!isOpen_) return false;
    HandleEventsLocked();
    if (!device_->IsOpen()) {
        lastError_ = "The printer was unplugged: plug it in again and switch it on.";
        return false;
    }
    if (device_->WaitSent(kWriteStallMs)) return true;
    lastError_ = device_->LastError();
    return false;
}

void UsbPort::Close() {
    std::lock_guard lock(ioLock_);
    if (device_->IsOpen()) device_->WaitSent(kWriteStallMs);
    device_->Close();
    if (watching_) watcher_->Stop();
    watching_ = false;
    isOpen_ = false;
}

std::string UsbPort::LastError() const {
    std::lock_guard lock(ioLock_);
    return lastError_;
}

int UsbPort::deviceState() const {
    std::lock_guard lock(ioLock_);
    return deviceState_;
}

std::string UsbPort::devicePath() const {
    std::lock_guard lock(ioLock_);
    return devicePath_;
}

int UsbPort::NotificationFd() const {
    std::lock_guard lock(ioLock_);
    return watching_ ? watcher_->Fd() : -1;
}

}  // namespace tessaly
