#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace tessaly {

// Every fixed wait of the printer protocol goes through a Clock, so that tests can
// run exchanges that take seconds on the wire in microseconds.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual void sleep(std::uint32_t ms) = 0;
    // Milliseconds since an arbitrary, fixed origin; never goes backwards.
    virtual std::int64_t now() = 0;
};

class SystemClock final : public Clock {
  public:
    void sleep(std::uint32_t ms) override;
    std::int64_t now() override;
    static SystemClock& instance();
};

// A clock that only moves when told to: Sleep advances it at once.
class VirtualClock final : public Clock {
  public:
    void sleep(std::uint32_t ms) override;
    std::int64_t now() override;
    void advance(std::int64_t ms);

  private:
    std::mutex mutex_;
    std::int64_t now_ = 0;
};

}  // namespace tessaly
