#pragma once

// A manual clock and a main queue that the test drains, standing in for the scheduler.
//
// Time moves only when the test calls advance(); due timers then fire on the calling thread,
// in the order of their due time (ties in the order they were made). Blocks submitted to the
// main queue, from any thread, wait until the test calls drain(). Timer calls are expected
// on the thread that made the scheduler; a call from another thread fails the running test.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/scheduler.h"

namespace quorlen::testing {

class FakeScheduler;

class FakeTimer : public Timer {
  public:
    // The interval it was scheduled with and the clock time at which it is due.
    double interval = 0;
    double due = 0;
    bool fired = false;
    bool invalidated = false;

    // Stops it; harmless when it has fired or was invalidated already.
    void invalidate() override;
    // True while it may still fire.
    bool pending() const { return !fired && !invalidated; }

  private:
    std::function<void()> action_;
    FakeScheduler* scheduler_ = nullptr;
    std::size_t serial_ = 0;
    friend class FakeScheduler;
};

class FakeScheduler : public Scheduler {
  public:
    FakeScheduler();
    // Appends "scheduledTimer", "invalidate", "timerFired" and "mainQueueBlock" (when a
    // drained block runs) to `log`, for example the fake toolkit's `events`. Not owned.
    void setEventLog(std::vector<std::string>* log) { log_ = log; }

    // Every timer made, in order.
    std::vector<std::shared_ptr<FakeTimer>> timers;

    // The clock, in seconds since the scheduler was made.
    double now() const { return now_; }
    // Moves the clock forward by `seconds`, firing every timer that falls due on the way
    // (also timers scheduled by a firing action, if they fall due within the interval).
    void advance(double seconds);
    // Returns the timers that may still fire.
    std::size_t pendingTimers() const;

    // Runs the queued main-queue blocks on the calling thread, including blocks that they
    // submit, until the queue is empty; returns how many ran.
    std::size_t drain();
    // Returns how many blocks wait. Thread-safe.
    std::size_t queuedBlocks() const;
    // Waits until at least `count` blocks wait, or the timeout passes; returns whether they
    // do. For blocks submitted from another thread.
    bool waitForBlocks(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));

    std::atomic<std::size_t> offThreadCalls{0};

    std::shared_ptr<Timer> scheduledTimer(double seconds, std::function<void()> action) override;
    // Thread-safe.
    void submitToMainQueue(std::function<void()> block) override;

  private:
    bool onMainThread(const char* name);
    void log(const char* name);

    double now_ = 0;
    std::size_t nextSerial_ = 0;
    std::vector<std::string>* log_ = nullptr;
    std::thread::id mainThread_;

    mutable std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<std::function<void()>> queue_;
    friend class FakeTimer;
};

}  // namespace quorlen::testing
