#pragma once

#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "runtime/Scheduler.h"

namespace dovrel::test {

// A clock that moves only when told. `advance` fires due timers in time order, each with the clock
// set to its due time, so that rules of 5, 10 or 180 seconds are checked in microseconds. Use it from
// one thread: the one that owns the code under test.
class FakeScheduler final : public Scheduler {
public:
    Instant now() const override { return now_; }

    std::unique_ptr<Timer> after(Duration delay, std::function<void()> fn) override {
        return add(delay, std::nullopt, std::move(fn));
    }
    std::unique_ptr<Timer> every(Duration first, Duration interval, std::function<void()> fn) override {
        return add(first, interval, std::move(fn));
    }

    void advance(Duration d) {
        const Instant end = now_ + d;
        while (!due_.empty() && due_.begin()->first.first <= end) {
            auto node = due_.extract(due_.begin());
            now_ = node.key().first;
            Entry entry = std::move(node.mapped());
            const auto fn = entry.fn.lock();
            if (!fn) continue; // cancelled
            if (entry.interval) due_.emplace(std::pair(now_ + *entry.interval, nextId_++), entry);
            (*fn)();
        }
        now_ = end;
    }

    std::size_t pendingTimers() const {
        std::size_t n = 0;
        for (const auto& [key, entry] : due_) n += entry.fn.expired() ? 0 : 1;
        return n;
    }

private:
    struct Entry {
        std::weak_ptr<std::function<void()>> fn;
        std::optional<Duration> interval;
    };
    struct FakeTimer final : Timer {
        std::shared_ptr<std::function<void()>> fn;
    };

    std::unique_ptr<Timer> add(Duration first, std::optional<Duration> interval, std::function<void()> fn) {
        auto timer = std::make_unique<FakeTimer>();
        timer->fn = std::make_shared<std::function<void()>>(std::move(fn));
        due_.emplace(std::pair(now_ + first, nextId_++), Entry{timer->fn, interval});
        return timer;
    }

    Instant now_{std::chrono::hours(1000)};
    uint64_t nextId_ = 0;
    std::map<std::pair<Instant, uint64_t>, Entry> due_;
};

} // namespace dovrel::test
