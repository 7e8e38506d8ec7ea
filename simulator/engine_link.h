#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "r3_engine.h"

namespace tessaly::sim {

// What a transport keeps between its connection and the engine: bytes read but
// not yet taken by the printer (its input buffer was full), and answers not yet
// written. Bytes are never dropped: while the printer holds some back the
// transport reads no more, so the sender is held (its writes block, or TCP's
// window closes). received() may be called from another thread than the rest.
class EngineLink {
  public:
    // Read ahead at most this much beyond what the printer took.
    static constexpr std::size_t kReadAhead = 256u << 10;

    EngineLink(R3Engine& engine, int host) : engine_(engine), host_(host) {}

    void received(const std::uint8_t* data, std::size_t n);
    // How many more bytes may be read now (0 while the read-ahead is full).
    std::size_t room() const;
    // Hands what was read to the engine; false once the printer went away.
    bool feed(std::int64_t now);
    // True while read bytes wait for the printer.
    bool holding() const;

    // Answer bytes to write now (refilled from the engine when all were written).
    const std::uint8_t* answers(std::int64_t now, std::size_t& n);
    void wrote(std::size_t n);
    // Forgets unwritten answers (the host went away).
    void dropAnswers(std::int64_t now);

    // How long the transport may sleep before something is due, at most idleMs.
    int pollTimeout(std::int64_t now, int idleMs) const;

  private:
    R3Engine& engine_;
    const int host_;
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> inbox_;
    std::vector<std::uint8_t> pending_;
    std::size_t pendingAt_ = 0;
};

}  // namespace tessaly::sim
