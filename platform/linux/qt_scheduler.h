#pragma once

// Timers and the main queue on Qt's event loop.

#include <functional>
#include <memory>

#include "platform/scheduler.h"

namespace quorlen {

// A single-shot QTimer per timer. Like a run loop, the event loop keeps a scheduled timer
// until it fires or is invalidated, whether or not the caller keeps the returned object.
// Qt timers also fire while a modal dialog runs its loop.
class QtScheduler : public Scheduler {
  public:
    // Needs the application object; call on its thread.
    std::shared_ptr<Timer> scheduledTimer(double seconds, std::function<void()> action) override;
    // Posts `block` to the application object's thread (the main thread); callable from any
    // thread. A block submitted once the application object is gone is dropped.
    void submitToMainQueue(std::function<void()> block) override;
};

}  // namespace quorlen
