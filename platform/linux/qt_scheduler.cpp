#include "platform/linux/qt_scheduler.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "platform/factory.h"

namespace quorlen {

namespace {

struct TimerState {
    QPointer<QTimer> timer;
    std::function<void()> action;
    bool done = false;
};

class QtTimer : public Timer {
  public:
    explicit QtTimer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}

    void invalidate() override {
        if (state_->done) return;
        state_->done = true;
        state_->action = nullptr;
        if (QTimer* timer = state_->timer.data()) {
            timer->stop();
            timer->deleteLater();
        }
    }

  private:
    std::shared_ptr<TimerState> state_;
};

}  // namespace

std::shared_ptr<Timer> QtScheduler::scheduledTimer(double seconds, std::function<void()> action) {
    auto state = std::make_shared<TimerState>();
    state->action = std::move(action);
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        state->done = true;
        return std::make_shared<QtTimer>(state);
    }
    const double ms = std::clamp(std::round(seconds * 1000.0), 0.0, static_cast<double>(INT_MAX));
    auto* timer = new QTimer(app);
    timer->setSingleShot(true);
    // A coarse timer may be 5 % late: a second on 20 s.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(ms));
    QObject::connect(timer, &QTimer::timeout, timer, [state, timer] {
        if (state->done) return;
        state->done = true;
        auto run = std::move(state->action);
        state->action = nullptr;
        timer->deleteLater();
        if (run) run();
    });
    state->timer = timer;
    timer->start();
    return std::make_shared<QtTimer>(state);
}

void QtScheduler::submitToMainQueue(std::function<void()> block) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
    }
}

std::unique_ptr<Scheduler> makeSystemScheduler() { return std::make_unique<QtScheduler>(); }

}  // namespace quorlen
