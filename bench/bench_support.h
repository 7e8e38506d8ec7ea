#pragma once

#include <fmt/format.h>
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "clock.h"
#include "concrete_port.h"
#include "notifier.h"
#include "printer_port.h"
#include "progress_sink.h"
#include "pty_printer.h"
#include "r3_engine.h"
#include "session.h"
#include "status_view.h"
#include "usb_device.h"

namespace tessaly::bench {

// Real time, counting every fixed wait the protocol asks for.
class CountingClock final : public Clock {
  public:
    void sleep(std::uint32_t ms) override {
        slept += ms;
        SystemClock::instance().sleep(ms);
    }
    std::int64_t now() override { return SystemClock::instance().now(); }
    std::int64_t slept = 0;
};

// The platform port, with the time each read may take by the port's own rules.
// Serial: a read that brings nothing waits its total time-out (100 ms + 10 ms per
// byte); one that brings fewer bytes than asked ends 10 ms after the last byte.
// USB: a read that brings nothing waits the caller's timeout; one that brings a
// reply ends with it.
struct ReadAccount {
    std::int64_t prescribedMs = 0;
    std::int64_t reads = 0;
    std::int64_t emptyReads = 0;
    double writeMs = 0;  // time spent inside writes
};

class AccountingPort final : public ConcretePort {
  public:
    AccountingPort(std::unique_ptr<ConcretePort> inner, ReadAccount& account, PortType type)
        : inner_(std::move(inner)), account_(account), usb_(type == PortType::Usb) {}
    bool Setup(const PortSettings& s) override { return inner_->Setup(s); }
    bool Open(int unused) override { return inner_->Open(unused); }
    std::uint32_t Write(const std::uint8_t* d, std::uint32_t n) override {
        const auto start = std::chrono::steady_clock::now();
        const std::uint32_t written = inner_->Write(d, n);
        account_.writeMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        return written;
    }
    std::uint32_t Read(std::uint8_t* b, std::uint32_t n, std::uint32_t t) override {
        const std::uint32_t got = inner_->Read(b, n, t);
        ++account_.reads;
        if (got == 0) {
            ++account_.emptyReads;
            account_.prescribedMs += usb_ ? t : 100 + 10 * static_cast<std::int64_t>(n);
        } else if (got < n && !usb_) {
            account_.prescribedMs += 10;
        }
        return got;
    }
    void Close() override { inner_->Close(); }
    bool IsOpen() const override { return inner_->IsOpen(); }

    bool WaitSent() override { return inner_->WaitSent(); }

  private:
    std::unique_ptr<ConcretePort> inner_;
    ReadAccount& account_;
    bool usb_;
};

inline double WallMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

inline double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

inline long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The virtual R-3 on a pseudo-terminal, opened through the real serial port
// code (or, with Start(true), the real USB port code on the same node), with
// every fixed wait and every read time-out accounted for.
struct PtyBench {
    sim::R3Engine engine;
    sim::PtyPrinter printer{engine};
    ReadAccount account;
    PrinterPort port{[this](PortType type) {
        return std::make_unique<AccountingPort>(MakePlatformPort(type), account, type);
    }};
    CountingClock clock;
    FixedAnswerNotifier notifier{MessageAnswer::Yes};
    Session session{port, clock, notifier};
    NullProgress progress;
    SilentStatusView view;

    // Starts the printer and opens the port; false (and says why) on failure.
    bool Start(bool usb = false) {
        if (!printer.start()) {
            fmt::print(stderr, "virtual printer: {}\n", printer.error());
            return false;
        }
        PortSettings settings;
        settings.portName = PortName(usb);
        if (!port.Setup(settings) || !port.Open(0)) {
            fmt::print(stderr, "cannot open {}: {}\n", printer.slavePath(), port.LastError());
            return false;
        }
        return true;
    }
    // The terminal as a serial port, or as a USB printer entry.
    std::string PortName(bool usb) const {
        return (usb ? std::string(kR3UsbPrefix) : std::string()) + printer.slavePath();
    }
};

}  // namespace tessaly::bench
