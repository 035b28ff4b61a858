#include "controller/client/session/AgentClock.h"

#include <algorithm>

namespace dovrel::controller {

void AgentClock::addSample(int64_t sentUs, int64_t receivedUs, uint64_t agentUs) {
    if (receivedUs < sentUs) return;
    const int64_t roundTrip = receivedUs - sentUs;
    const int64_t middle = sentUs + roundTrip / 2;
    samples_.push_back({roundTrip, static_cast<int64_t>(agentUs) - middle});
    if (samples_.size() > window) samples_.pop_front();
    const auto best = std::min_element(samples_.begin(), samples_.end(),
                                       [](const Sample& a, const Sample& b) { return a.roundTripUs < b.roundTripUs; });
    offset_.store(best->offsetUs, std::memory_order_relaxed);
    known_.store(true, std::memory_order_release);
}

void AgentClock::clear() {
    samples_.clear();
    known_.store(false, std::memory_order_release);
}

std::optional<int64_t> AgentClock::offsetUs() const {
    if (!known_.load(std::memory_order_acquire)) return std::nullopt;
    return offset_.load(std::memory_order_relaxed);
}

std::optional<int64_t> AgentClock::ageUs(uint32_t agentStamp, int64_t nowUs) const {
    const auto offset = offsetUs();
    if (!offset) return std::nullopt;
    // The agent's clock now, cut to 32 bits like the stamp; the difference wraps the same way.
    const auto agentNow = static_cast<uint32_t>(static_cast<uint64_t>(nowUs + *offset));
    return static_cast<int32_t>(agentNow - agentStamp);
}

} // namespace dovrel::controller
