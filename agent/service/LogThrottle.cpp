#include "agent/service/LogThrottle.h"

#include <chrono>

#include "agent/service/AgentLog.h"

namespace dovrel::agent {

LogThrottle::LogThrottle(std::string what, int perSecond) : what_(std::move(what)), perSecond_(perSecond) {}

void LogThrottle::print(Instant now, const std::string& line) {
    const std::lock_guard guard(lock_);
    if (written_ == 0 || now - windowStart_ >= std::chrono::seconds(1)) {
        flushLocked();
        windowStart_ = now;
        written_ = 0;
    }
    if (written_ >= perSecond_) {
        ++suppressed_;
        return;
    }
    ++written_;
    agent::print(line);
}

void LogThrottle::flush() {
    const std::lock_guard guard(lock_);
    flushLocked();
}

void LogThrottle::flushLocked() {
    if (suppressed_ == 0) return;
    agent::print("• " + std::to_string(suppressed_) + " more line(s) about " + what_ + " left out of this log");
    suppressed_ = 0;
}

} // namespace dovrel::agent
