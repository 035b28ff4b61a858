#pragma once

#include <deque>
#include <mutex>

namespace dovrel::agent {

// How often the agent may put wake packets on its network: at most `maxPerMinute` in any 60 s and never
// two closer than `minGap` seconds. Times are seconds on a monotonic clock that the caller passes in (the
// agent passes systemUptime()), so the rule is driven by the caller's clock and tests need no waiting.
class WakeBudget {
public:
    static constexpr int defaultMaxPerMinute = 10;
    static constexpr double defaultMinGap = 2.0;
    static constexpr double window = 60.0;

    explicit WakeBudget(int maxPerMinute = defaultMaxPerMinute, double minGap = defaultMinGap);

    // True when a wake may go out at `now`, and then it counts; a refusal leaves nothing behind, so
    // refused requests do not push the window on. Any thread.
    bool allow(double now);

    // Seconds since boot on the monotonic clock (suspended time not counted).
    static double systemUptime();

private:
    const int maxPerMinute_;
    const double minGap_;
    std::mutex lock_;
    std::deque<double> stamps_; // granted wakes of the last minute, oldest first
};

} // namespace dovrel::agent
