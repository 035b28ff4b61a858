#include "agent/service/WakeBudget.h"

namespace dovrel::agent {

bool WakeBudget::allow(double now) {
    const std::lock_guard guard(lock_);
    while (!stamps_.empty() && now - stamps_.front() > 60.0)
        stamps_.pop_front();
    if (!stamps_.empty() && (now - stamps_.back() < minGap || stamps_.size() >= static_cast<std::size_t>(maxPerMinute)))
        return false;
    stamps_.push_back(now);
    return true;
}

} // namespace dovrel::agent
