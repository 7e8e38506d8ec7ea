#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "clock.h"

namespace tessaly {

// Window-style timers: each id runs with its period until stopped; starting a
// running id restarts it.
class TimerControl {
  public:
    virtual ~TimerControl() = default;
    virtual void startTimer(int id, std::uint32_t periodMs) = 0;
    virtual void stopTimer(int id) = 0;
};

// Timers without a window system: run() delivers the due events on the calling
// thread, strictly one at a time (a handler may start and stop timers, never
// sees a second event while it runs), sleeping on the clock between them.
//
// Due times are absolute, kept in microseconds (the system clock is read at that
// resolution), so a periodic timer does not drift by the time its handlers take.
// A timer started from inside a handler is due one period after the event being
// handled was due plus the handler's own time: the delay with which that event
// was delivered is not added again, so a chain of events keeps its pace.
class PacingEngine final : public TimerControl {
  public:
    explicit PacingEngine(Clock& clock);

    void startTimer(int id, std::uint32_t periodMs) override;
    void stopTimer(int id) override;

    // Delivers events until no timer is running or cancel() was called; returns
    // how many were delivered.
    std::uint64_t run(const std::function<void(int)>& handler);
    // Makes run() return before its next event, from any thread; pending timers
    // stay as they are.
    void cancel() { cancelled_ = true; }
    bool running(int id) const;
    bool idle() const;

    // Longest single sleep, so that cancel() takes effect promptly.
    static constexpr std::int64_t kMaxSleepMs = 50;

  private:
    struct Timer {
        int id;
        std::uint32_t periodMs;
        std::int64_t dueUs;
        std::uint64_t order;  // start order, to break ties between equal due times
    };

    std::int64_t NowUs() const;
    void SleepUs(std::int64_t us);

    Clock& clock_;
    bool systemTime_;
    std::atomic<std::int64_t> lateUs_{0};  // how late the event being handled was delivered
    std::atomic<bool> dispatching_{false};
    mutable std::mutex mutex_;
    std::vector<Timer> timers_;
    std::uint64_t started_ = 0;
    std::atomic<bool> cancelled_{false};
};

}  // namespace tessaly
