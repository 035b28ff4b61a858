#pragma once

#include <cstdint>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// Turns scroll deltas into X wheel clicks (buttons 4-7). Controllers send deltas in eighths of a
// point: a trackpad a stream of small ones, a wheel notch from a Mac one line (8), a Windows notch
// 120. A click scrolls a few lines in X applications, so one is made per 120 units (15 points of
// finger travel, one Windows notch); the rest carries over to the next event. The first delta of a
// fresh gesture (after a pause, or when the direction turns) clicks at once when it is at least a line,
// so that a single slow notch is never lost; a turn drops what was carried the other way.
class ScrollAccumulator {
public:
    static constexpr int unitsPerClick = 120;
    static constexpr int smallestNotch = 8;
    static constexpr Duration pause = std::chrono::milliseconds(250);

    struct Clicks {
        int vertical = 0;   // positive: up (button 4); negative: down (button 5)
        int horizontal = 0; // positive: left (button 6); negative: right (button 7)
        bool operator==(const Clicks&) const = default;
    };

    Clicks add(int16_t dx, int16_t dy, Instant now);
    void reset();

private:
    struct Axis {
        int carried = 0;
        int direction = 0; // of the last delta; 0 before the first
        Instant last{};
        int add(int delta, Instant now);
    };
    Axis vertical_;
    Axis horizontal_;
};

} // namespace dovrel::agent
