#include "agent/core/WakeBudget.h"

#include <ctime>

namespace dovrel::agent {

WakeBudget::WakeBudget(int maxPerMinute, double minGap) : maxPerMinute_(maxPerMinute), minGap_(minGap) {}

bool WakeBudget::allow(double now) {
    const std::lock_guard guard(lock_);
    while (!stamps_.empty() && now - stamps_.front() > window)
        stamps_.pop_front();
    // A clock read that went backwards gives a negative gap and is refused like one too close.
    if (!stamps_.empty() && (now - stamps_.back() < minGap_ || static_cast<int>(stamps_.size()) >= maxPerMinute_))
        return false;
    stamps_.push_back(now);
    return true;
}

double WakeBudget::systemUptime() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace dovrel::agent
