#pragma once

#include <chrono>
#include <cstdint>

namespace dovrel::agent {

// What the control connection's socket says of the way to the client (TCP_INFO): the control messages
// share that way with the video, so a queue the video fills in front of a slow link shows here as a
// round trip that grows, and one that overflows as segments sent again.
struct ControlLinkReading {
    std::chrono::microseconds smoothedRoundTrip{0}; // the kernel's smoothed estimate; 0: none yet
    uint32_t segmentsSentAgain = 0;                 // since the connection opened
    bool operator==(const ControlLinkReading&) const = default;
};

} // namespace dovrel::agent
