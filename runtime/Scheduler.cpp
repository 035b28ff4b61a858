#include "runtime/Scheduler.h"

#include <algorithm>
#include <climits>
#include <optional>

#include <QTimer>

namespace dovrel {

namespace {

int toMs(Duration d) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, INT32_MAX));
}

// The QTimer is released with deleteLater, so that a callback may drop its own timer (a deadline
// that clears itself, a watchdog that re-arms) without deleting the object that is emitting.
struct DeleteLater {
    void operator()(QObject* o) const { o->deleteLater(); }
};

class QtTimer final : public Timer {
public:
    QtTimer(Duration first, std::optional<Duration> interval, std::function<void()> fn)
        : timer_(new QTimer), fn_(std::make_shared<std::function<void()>>(std::move(fn))) {
        timer_->setTimerType(Qt::PreciseTimer);
        timer_->setSingleShot(true);
        QTimer* t = timer_.get();
        QObject::connect(t, &QTimer::timeout, t, [t, interval, weak = std::weak_ptr(fn_)] {
            if (interval) t->start(toMs(*interval));
            // Hold the callback while it runs: it may destroy this Timer.
            if (const auto callback = weak.lock()) (*callback)();
        });
        timer_->start(toMs(first));
    }
    ~QtTimer() override { timer_->stop(); }

private:
    std::unique_ptr<QTimer, DeleteLater> timer_;
    std::shared_ptr<std::function<void()>> fn_;
};

} // namespace

std::unique_ptr<Timer> QtScheduler::after(Duration delay, std::function<void()> fn) {
    return std::make_unique<QtTimer>(delay, std::nullopt, std::move(fn));
}

std::unique_ptr<Timer> QtScheduler::every(Duration first, Duration interval, std::function<void()> fn) {
    return std::make_unique<QtTimer>(first, interval, std::move(fn));
}

Scheduler& realScheduler() {
    static QtScheduler scheduler;
    return scheduler;
}

} // namespace dovrel
