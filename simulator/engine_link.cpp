#include "engine_link.h"

#include <algorithm>

namespace tessaly::sim {

void EngineLink::received(const std::uint8_t* data, std::size_t n) {
    std::lock_guard lock(mutex_);
    inbox_.insert(inbox_.end(), data, data + n);
}

std::size_t EngineLink::room() const {
    std::lock_guard lock(mutex_);
    return kReadAhead - std::min(kReadAhead, inbox_.size());
}

bool EngineLink::holding() const {
    std::lock_guard lock(mutex_);
    return !inbox_.empty();
}

bool EngineLink::feed(std::int64_t now) {
    std::lock_guard lock(mutex_);
    if (inbox_.empty()) return engine_.connected();
    if (engine_.resumesAt(now)) return true;  // still full: try again later
    const std::size_t taken = engine_.receive(inbox_.data(), inbox_.size(), now, host_);
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(taken));
    return engine_.connected();
}

const std::uint8_t* EngineLink::answers(std::int64_t now, std::size_t& n) {
    if (pendingAt_ == pending_.size()) {
        pending_.resize(4096);
        pending_.resize(engine_.takeOutput(pending_.data(), pending_.size(), now, host_));
        pendingAt_ = 0;
    }
    n = pending_.size() - pendingAt_;
    return pending_.data() + pendingAt_;
}

void EngineLink::wrote(std::size_t n) {
    pendingAt_ = std::min(pending_.size(), pendingAt_ + n);
}

void EngineLink::dropAnswers(std::int64_t now) {
    pending_.clear();
    pendingAt_ = 0;
    engine_.discardOutput(host_, now);
}

int EngineLink::pollTimeout(std::int64_t now, int idleMs) const {
    // The times may be far off either way (an endless sender is always due).
    auto until = [now](std::int64_t at) { return at <= now ? 0 : at - now; };
    std::int64_t wait = idleMs;
    if (const auto next = engine_.nextOutputTime(host_)) wait = std::min(wait, until(*next));
    if (holding()) {
        const auto resume = engine_.resumesAt(now);
        wait = resume ? std::min(wait, until(*resume)) : 0;
    }
    return static_cast<int>(std::clamp<std::int64_t>(wait, 0, idleMs));
}

}  // namespace tessaly::sim
