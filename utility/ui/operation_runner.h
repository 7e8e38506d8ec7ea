#pragma once

#include <functional>

namespace tessaly::ui {

// Runs printer operations away from the user-interface thread, one at a time.
// `job` runs on the worker; `done` runs afterwards on the user-interface thread.
// The dialog logic starts every exchange with the printer through a runner, so the
// same logic serves a GUI with a worker thread and tests that run it inline.
class OperationRunner {
  public:
    virtual ~OperationRunner() = default;
    virtual void Run(std::function<void()> job, std::function<void()> done) = 0;
};

// Runs the job and its completion at once on the caller's thread.
class InlineRunner final : public OperationRunner {
  public:
    void Run(std::function<void()> job, std::function<void()> done) override {
        if (job) job();
        if (done) done();
    }
};

}  // namespace tessaly::ui
