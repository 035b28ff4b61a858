#pragma once

#include <cstdint>

namespace dovrel::agent {

// A point on the X screen, in root-window pixels.
struct ScreenPoint {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

// The monitor being streamed and the size of the picture the controller sees of it. Pointer positions
// from the controller are pixels of that picture; they land on the monitor scaled to its size.
struct StreamedArea {
    int32_t x = 0; // the monitor's origin on the X screen (its RandR position)
    int32_t y = 0;
    uint32_t width = 0; // the monitor's size in screen pixels
    uint32_t height = 0;
    uint32_t pictureWidth = 0; // the streamed picture's size; 0 when it equals the monitor's
    uint32_t pictureHeight = 0;

    bool empty() const { return width == 0 || height == 0; }

    // Where a picture position in 16.16 fixed point lands on the screen: scaled from the picture to the
    // monitor, truncated to whole pixels and kept on the monitor (a drag past the picture's edge stops at
    // the monitor's edge instead of wandering onto a neighbouring one).
    ScreenPoint toScreen(int32_t q1616x, int32_t q1616y) const;

    bool operator==(const StreamedArea&) const = default;
};

} // namespace dovrel::agent
