#pragma once

#include <cstdint>

#include "protocol/InputMessages.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// Turns scroll deltas into wheel clicks. Deltas are eighths of a pixel: a trackpad sends a stream of
// small ones, a wheel notch `wex::ScrollEvent::notch` (48 pixels, about three lines), which is one
// click here; a click scrolls about as far in desktop applications, so a trackpad moves the view about
// as far as the fingers move. The rest carries over to the next event. The first delta of a fresh
// gesture (after a pause, or when the direction turns) clicks at once when it is at least a pixel (a
// Mac's wheel sends a line as 8), so that a single slow notch is never lost; a turn drops what was
// carried the other way.
class ScrollAccumulator {
public:
    static constexpr int unitsPerClick = wex::ScrollEvent::notch;
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
