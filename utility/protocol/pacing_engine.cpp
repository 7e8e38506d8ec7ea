#include "pacing_engine.h"

#include <algorithm>

namespace tessaly {

void PacingEngine::startTimer(int id, std::uint32_t periodMs) {
    const std::int64_t due = clock_.now() + periodMs;
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
                    return a.due != b.due ? a.due < b.due : a.order < b.order;
                });
            const std::int64_t now = clock_.now();
            if (next->due > now) {
                wait = std::min(next->due - now, kMaxSleepMs);
            } else {
                id = next->id;
                // The next event of a timer that keeps running is one period after
                // this one was due, not after the handler ends; a timer that fell
                // more than a period behind skips the events it missed.
                next->due += next->periodMs;
                if (next->due <= now) next->due = now + next->periodMs;
            }
        }
        if (wait > 0) {
            clock_.sleep(static_cast<std::uint32_t>(wait));
            continue;
        }
        handler(id);
        ++delivered;
    }
    return delivered;
}

}  // namespace tessaly
