#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/Scheduler.h"

namespace dovrel {

// Lines anyone on the network can cause over and over go through one of these: at most `perSecond` of
// them are written each second, the rest are counted, and the count is written in one line when that
// second is over. So a flood grows the log by a small fixed amount a second. Use it on the thread that
// runs `scheduler`'s timers.
class ThrottledLog {
public:
    using Write = std::function<void(const std::string& line)>;

    // `what` names the lines in the count's line ("… more line(s) about <what> left out of this log").
    ThrottledLog(Scheduler& scheduler, std::string what, int perSecond, Write write);
    ~ThrottledLog();
    ThrottledLog(const ThrottledLog&) = delete;
    ThrottledLog& operator=(const ThrottledLog&) = delete;

    // Writes `line` unless this second's allowance is spent.
    void print(const std::string& line);
    // Writes the count of lines left out, if any, and stops the timer that would.
    void stop();

private:
    void flushLocked();

    Scheduler& scheduler_;
    const std::string what_;
    const int perSecond_;
    const Write write_;
    std::mutex lock_;
    Instant windowStart_{};
    int written_ = 0;
    uint64_t suppressed_ = 0;
    std::unique_ptr<Timer> reportTimer_;
};

} // namespace dovrel
