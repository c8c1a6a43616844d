#include "tests/support/fake_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace quorlen::testing {

void FakeTimer::invalidate() {
    if (scheduler_ != nullptr && !scheduler_->onMainThread("invalidate")) return;
    if (scheduler_ != nullptr) scheduler_->log("invalidate");
    if (!pending()) return;
    invalidated = true;
    action_ = nullptr;
}

FakeScheduler::FakeScheduler() : mainThread_(std::this_thread::get_id()) {}

bool FakeScheduler::onMainThread(const char* name) {
    if (std::this_thread::get_id() == mainThread_) return true;
    ++offThreadCalls;
    ADD_FAILURE() << "scheduler call " << name << " off the main thread";
    return false;
}

void FakeScheduler::log(const char* name) {
    if (log_ != nullptr) log_->emplace_back(name);
}

std::shared_ptr<Timer> FakeScheduler::scheduledTimer(double seconds, std::function<void()> action) {
    auto timer = std::make_shared<FakeTimer>();
    timer->interval = seconds;
    timer->due = now_ + std::max(seconds, 0.0);
    timer->scheduler_ = this;
    timer->serial_ = nextSerial_++;
    if (!onMainThread("scheduledTimer")) {
        timer->invalidated = true;
        return timer;
    }
    log("scheduledTimer");
    timer->action_ = std::move(action);
    timers.push_back(timer);
    return timer;
}

std::size_t FakeScheduler::pendingTimers() const {
    return static_cast<std::size_t>(
        std::count_if(timers.begin(), timers.end(), [](const auto& t) { return t->pending(); }));
}

void FakeScheduler::advance(double seconds) {
    const double end = now_ + std::max(seconds, 0.0);
    for (;;) {
        // The earliest pending timer due by `end`; ties go to the one made first.
        std::shared_ptr<FakeTimer> next;
        for (const auto& t : timers) {
            if (!t->pending() || t->due > end) continue;
            if (!next || t->due < next->due ||
                (t->due == next->due && t->serial_ < next->serial_)) {
                next = t;
            }
        }
        if (!next) break;
        now_ = std::max(now_, next->due);
        next->fired = true;
        auto action = std::move(next->action_);
        next->action_ = nullptr;
        log("timerFired");
        if (action) action();
    }
    now_ = end;
}

std::size_t FakeScheduler::drain() {
    std::size_t ran = 0;
    for (;;) {
        std::function<void()> block;
        {
            std::lock_guard lock(queueMutex_);
            if (queue_.empty()) break;
            block = std::move(queue_.front());
            queue_.pop_front();
        }
        log("mainQueueBlock");
        if (block) block();
        ++ran;
    }
    return ran;
}

std::size_t FakeScheduler::queuedBlocks() const {
    std::lock_guard lock(queueMutex_);
    return queue_.size();
}

bool FakeScheduler::waitForBlocks(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(queueMutex_);
    return queueChanged_.wait_for(lock, timeout, [&] { return queue_.size() >= count; });
}

void FakeScheduler::submitToMainQueue(std::function<void()> block) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(std::move(block));
    }
    queueChanged_.notify_all();
}

}  // namespace quorlen::testing
