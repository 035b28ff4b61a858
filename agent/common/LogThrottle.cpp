#include "agent/common/LogThrottle.h"

#include <chrono>

#include "agent/common/AgentLog.h"

namespace dovrel::agent {

namespace {
constexpr auto window = std::chrono::seconds(1);
}

LogThrottle::LogThrottle(Scheduler& scheduler, std::string what, int perSecond)
    : scheduler_(scheduler), what_(std::move(what)), perSecond_(perSecond) {}

void LogThrottle::print(const std::string& line) {
    const std::lock_guard guard(lock_);
    const Instant now = scheduler_.now();
    if (written_ == 0 || now - windowStart_ >= window) {
        flushLocked();
        windowStart_ = now;
        written_ = 0;
    }
    if (written_ < perSecond_) {
        ++written_;
        agent::print(line);
        return;
    }
    if (suppressed_++ == 0)
        reportTimer_ = scheduler_.after(windowStart_ + window - now, [this] {
            const std::lock_guard g(lock_);
            flushLocked();
        });
}

void LogThrottle::stop() {
    const std::lock_guard guard(lock_);
    flushLocked();
    reportTimer_.reset();
}

void LogThrottle::flushLocked() {
    if (suppressed_ == 0) return;
    agent::print("• " + std::to_string(suppressed_) + " more line(s) about " + what_ + " left out of this log");
    suppressed_ = 0;
}

} // namespace dovrel::agent
