#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// Lines anyone on the network can cause over and over (refused frames, unauthenticated connections and
// Hellos) go through one of these: at most `perSecond` of them are written each second, the rest are
// counted, and the count is written in one line with the first line after that second (or at a flush).
// So a flood of junk grows the log by a small fixed amount a second. Any thread.
class LogThrottle {
public:
    explicit LogThrottle(std::string what, int perSecond = 8);

    // Writes `line` unless this second's allowance is spent.
    void print(Instant now, const std::string& line);
    // Writes the count of lines left out, if any.
    void flush();

private:
    void flushLocked();

    const std::string what_;
    const int perSecond_;
    std::mutex lock_;
    Instant windowStart_{};
    int written_ = 0;
    uint64_t suppressed_ = 0;
};

} // namespace dovrel::agent
