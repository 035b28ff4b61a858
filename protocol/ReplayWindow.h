#pragma once

#include <cstdint>

namespace wex {

// The sequence numbers one stream of a session has accepted: the highest so far and the 63 below it.
// Numbers compare as plain unsigned values; there is no wrap-around, so a sender must never reuse a
// number within a session. Not thread-safe: its owner locks around `accept`.
class ReplayWindow {
public:
    static constexpr uint32_t width = 64;

    // True (and recorded) for a number not seen before and not more than 63 below the highest.
    bool accept(uint32_t seq);

    bool started() const { return started_; }
    uint32_t maxSeq() const { return maxSeq_; }

private:
    uint32_t maxSeq_ = 0;
    uint64_t bitmap_ = 0; // bit i: maxSeq - i was accepted
    bool started_ = false;
};

} // namespace wex
