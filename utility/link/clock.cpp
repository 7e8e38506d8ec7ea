#include "clock.h"

#include <thread>

namespace tessaly {

void SystemClock::sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::int64_t SystemClock::now() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

SystemClock& SystemClock::instance() {
    static SystemClock clock;
    return clock;
}

void VirtualClock::sleep(std::uint32_t ms) {
    advance(ms);
}

std::int64_t VirtualClock::now() {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::advance(std::int64_t ms) {
    std::lock_guard lock(mutex_);
    now_ += ms;
}

}  // namespace tessaly
