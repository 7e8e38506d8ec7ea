// What a removal could not do, collected as it runs, so that the programs say so instead of
// reporting success: each problem is a phrase ("queue Kitchen could not be deleted") with the
// error code the system gave for it.
#pragma once

#include <string>
#include <vector>

#include "winsys/windows_services.h"

namespace tessaly::removal {

struct RemovalProblem {
    std::string what;
    winsys::DWORD code = 0;
};

class RemovalReport {
  public:
    void Add(std::string what, winsys::DWORD code) { problems_.push_back({std::move(what), code}); }
    // Marks that the driver itself is still installed (one of the problems says why).
    void DriverRemains() { driverRemains_ = true; }

    bool Empty() const { return problems_.empty(); }
    bool DriverRemoved() const { return !driverRemains_; }
    const std::vector<RemovalProblem>& Problems() const { return problems_; }

    // The problems for a message, each with the system's text for its code. With
    // `driverRemovalRan` and the driver gone, it begins "The driver was removed, but ...".
    std::string Text(winsys::WindowsServices& sys, bool driverRemovalRan) const;

  private:
    std::vector<RemovalProblem> problems_;
    bool driverRemains_ = false;
};

}  // namespace tessaly::removal
