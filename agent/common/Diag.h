#pragma once

#include <cstdint>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// The capture pipeline's counters and time stamps, under one lock. The counters restart at every
// tick(); the stamps live for the process.
namespace Diag {

enum class Counter { captured, encoded, videoFrames, videoBytes, videoDropped, audioBuffers, audioSamples, audioFrames };
enum class Stamp { lastCaptureAt, lastStreamAt, lastEncodeAt };

struct Tick {
    int64_t cap = 0, enc = 0, frames = 0, bytes = 0, dropped = 0, aBuf = 0, aSamples = 0, aSent = 0;
    bool operator==(const Tick&) const = default;
};

void add(Counter c, int64_t n = 1);
void stamp(Stamp s, Instant at);
// Instant{} (the distant past) until first stamped.
Instant stampOf(Stamp s);
// Reads the eight counters in order and sets them to 0.
Tick tick();

} // namespace Diag
} // namespace dovrel::agent
