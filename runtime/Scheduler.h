#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace dovrel {

using Instant = std::chrono::steady_clock::time_point;
using Duration = std::chrono::steady_clock::duration;

// A timer that is cancelled when destroyed.
class Timer {
public:
    virtual ~Timer() = default;
};

// Monotonic time and timers for rules that are driven by time (handshake deadlines, idle checks,
// back-offs, watchdogs). The real one runs on Qt timers of the calling thread; tests use a fake clock
// so that a 15 s rule takes microseconds.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    virtual Instant now() const = 0;
    // Calls `fn` once, `delay` from now, on the thread that created the timer.
    virtual std::unique_ptr<Timer> after(Duration delay, std::function<void()> fn) = 0;
    // Calls `fn` first `first` from now and then every `interval`, on the creating thread.
    virtual std::unique_ptr<Timer> every(Duration first, Duration interval, std::function<void()> fn) = 0;
};

// Qt timers on the calling thread (which must run a Qt event loop) and the steady clock.
class QtScheduler final : public Scheduler {
public:
    Instant now() const override { return std::chrono::steady_clock::now(); }
    std::unique_ptr<Timer> after(Duration delay, std::function<void()> fn) override;
    std::unique_ptr<Timer> every(Duration first, Duration interval, std::function<void()> fn) override;
};

// The process-wide real scheduler.
Scheduler& realScheduler();

} // namespace dovrel
