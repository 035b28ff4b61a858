#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>

namespace dovrel::controller {

// The agent's clock as seen from ours, learnt from ping round trips: the agent stamps its answer with
// its own microseconds, which stand for the middle of the round trip. The round trip with the least
// delay among the recent ones gives the best estimate. Samples come on the client thread; the offset
// may be read from any thread.
class AgentClock {
public:
    static constexpr std::size_t window = 16;

    // Our ping left at `sentUs` and its answer came at `receivedUs` (our microseconds) with the agent's
    // `agentUs`.
    void addSample(int64_t sentUs, int64_t receivedUs, uint64_t agentUs);
    void clear();

    // Agent microseconds minus ours at the same moment; nothing before the first round trip.
    std::optional<int64_t> offsetUs() const;
    // How long ago, in microseconds, the agent took a time stamp of which only the low 32 bits came
    // (the video header's), seen at `nowUs` on our clock; nothing before the first round trip.
    std::optional<int64_t> ageUs(uint32_t agentStamp, int64_t nowUs) const;

private:
    struct Sample {
        int64_t roundTripUs;
        int64_t offsetUs;
    };
    std::deque<Sample> samples_;
    std::atomic<int64_t> offset_{0};
    std::atomic<bool> known_{false};
};

} // namespace dovrel::controller
