#pragma once

namespace tessaly {

// Drives a progress bar with the range 0..100.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void setStep(int step) = 0;
    virtual void step() = 0;
    virtual void setPosition(int position) = 0;
};

// For callers that show no progress.
class NullProgress final : public ProgressSink {
  public:
    void setStep(int) override {}
    void step() override {}
    void setPosition(int) override {}
};

}  // namespace tessaly
