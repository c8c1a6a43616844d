#pragma once

#include <functional>
#include <memory>

namespace quorlen {

// A scheduled one-shot timer.
class Timer {
  public:
    virtual ~Timer() = default;
    // Stops the timer; its action never runs afterwards. Harmless when already fired.
    virtual void invalidate() = 0;
};

// Timers and the main queue.
class Scheduler {
  public:
    virtual ~Scheduler() = default;
    // Returns a timer that runs `action` once on the main thread after `seconds`, unless it
    // is invalidated first; never null. Repeating timers are not offered.
    virtual std::shared_ptr<Timer> scheduledTimer(double seconds, std::function<void()> action) = 0;
    // Runs `block` later on the main thread. Callable from any thread.
    virtual void submitToMainQueue(std::function<void()> block) = 0;
};

}  // namespace quorlen
