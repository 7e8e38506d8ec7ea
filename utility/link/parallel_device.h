#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "io_bounds.h"

namespace tessaly {

// The printer's condition as the parallel interface reports it.
struct ParallelStatus {
    bool selected = false;  // the printer is on line
    bool busy = false;
    bool paperOut = false;
    bool error = false;
};

// The platform side of a parallel port. ParallelPort keeps the rules (the
// readiness test, the time-outs); a device only performs them.
class ParallelDevice {
  public:
    virtual ~ParallelDevice() = default;
    // Opens the port exclusively for reading and writing.
    virtual bool Open(const std::string& name) = 0;
    // Asks the driver for the printer's status; nothing when the query fails.
    virtual std::optional<ParallelStatus> QueryStatus() = 0;
    virtual std::uint32_t Write(const std::uint8_t* data, std::uint32_t count,
                                const WriteBounds& bounds) = 0;
    virtual std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                               const ReadBounds& bounds) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // The last failure, phrased for the user with what to do about it.
    virtual std::string LastError() const = 0;
};

}  // namespace tessaly
