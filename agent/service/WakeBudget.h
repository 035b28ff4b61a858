#pragma once

#include <deque>
#include <mutex>

namespace dovrel::agent {

// How often this agent puts wake packets on its network: at most 10 a minute and at least 2 s apart.
// Times are seconds on a monotonic clock, as the caller passes them.
class WakeBudget {
public:
    static constexpr int maxPerMinute = 10;
    static constexpr double minGap = 2.0;

    // True when a wake may be sent now; a true answer counts as a wake. Refusals leave no trace, so
    // they do not push the window on.
    bool allow(double now);

private:
    std::mutex lock_;
    std::deque<double> stamps_; // granted in the last minute, oldest first
};

} // namespace dovrel::agent
