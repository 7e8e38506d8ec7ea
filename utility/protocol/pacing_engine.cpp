#include "pacing_engine.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tessaly {

PacingEngine::PacingEngine(Clock& clock)
    : clock_(clock), systemTime_(dynamic_cast<SystemClock*>(&clock) != nullptr) {}

std::int64_t PacingEngine::NowUs() const {
    if (!systemTime_) return clock_.now() * 1000;
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void PacingEngine::SleepUs(std::int64_t us) {
    if (!systemTime_) {
        clock_.sleep(static_cast<std::uint32_t>((us + 999) / 1000));
        return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void PacingEngine::startTimer(int id, std::uint32_t periodMs) {
    const std::int64_t periodUs = static_cast<std::int64_t>(periodMs) * 1000;
    const std::int64_t due =
        NowUs() + periodUs - (dispatching_ ? std::min(lateUs_.load(), periodUs) : 0);
    std::lock_guard lock(mutex_);
    std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
    timers_.push_back({id, periodMs, due, started_++});
}

void PacingEngine::stopTimer(int id) {
    std::lock_guard lock(mutex_);
    std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
}

bool PacingEngine::running(int id) const {
    std::lock_guard lock(mutex_);
    return std::any_of(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
}

bool PacingEngine::idle() const {
    std::lock_guard lock(mutex_);
    return timers_.empty();
}

std::uint64_t PacingEngine::run(const std::function<void(int)>& handler) {
    cancelled_ = false;
    std::uint64_t delivered = 0;
    while (!cancelled_) {
        int id = 0;
        std::int64_t wait = 0;
        {
            std::lock_guard lock(mutex_);
            if (timers_.empty()) break;
            auto next = std::min_element(
                timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
                    return a.dueUs != b.dueUs ? a.dueUs < b.dueUs : a.order < b.order;
                });
            const std::int64_t now = NowUs();
            if (next->dueUs > now) {
                wait = std::min(next->dueUs - now, kMaxSleepMs * 1000);
            } else {
                id = next->id;
                lateUs_ = now - next->dueUs;
                // The next event of a timer that keeps running is one period after
                // this one was due, not after the handler ends; a timer that fell
                // more than a period behind skips the events it missed.
                const std::int64_t periodUs = static_cast<std::int64_t>(next->periodMs) * 1000;
                next->dueUs += periodUs;
                if (next->dueUs <= now) next->dueUs = now + periodUs;
            }
        }
        if (wait > 0) {
            SleepUs(wait);
            continue;
        }
        dispatching_ = true;
        handler(id);
        dispatching_ = false;
        ++delivered;
    }
    return delivered;
}

}  // namespace tessaly
