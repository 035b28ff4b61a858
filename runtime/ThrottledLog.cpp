#include "runtime/ThrottledLog.h"

#include <chrono>

namespace dovrel {

namespace {
constexpr auto window = std::chrono::seconds(1);
}

ThrottledLog::ThrottledLog(Scheduler& scheduler, std::string what, int perSecond, Write write)
    : scheduler_(scheduler), what_(std::move(what)), perSecond_(perSecond), write_(std::move(write)) {}

ThrottledLog::~ThrottledLog() = default;

void ThrottledLog::print(const std::string& line) {
    const std::lock_guard guard(lock_);
    const Instant now = scheduler_.now();
    if (written_ == 0 || now - windowStart_ >= window) {
        flushLocked();
        windowStart_ = now;
        written_ = 0;
    }
    if (written_ < perSecond_) {
        ++written_;
        write_(line);
        return;
    }
    if (suppressed_++ == 0)
        reportTimer_ = scheduler_.after(windowStart_ + window - now, [this] {
            const std::lock_guard g(lock_);
            flushLocked();
        });
}

void ThrottledLog::stop() {
    const std::lock_guard guard(lock_);
    flushLocked();
    reportTimer_.reset();
}

void ThrottledLog::flushLocked() {
    if (suppressed_ == 0) return;
    write_("• " + std::to_string(suppressed_) + " more line(s) about " + what_ + " left out of this log");
    suppressed_ = 0;
}

} // namespace dovrel
