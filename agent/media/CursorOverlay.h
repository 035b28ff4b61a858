#pragma once

#include <cstdint>
#include <vector>

namespace dovrel::agent {

// The pointer's picture as XFixes gives it: premultiplied ARGB, one 32-bit value per pixel, with
// its top-left corner at (x, y) in screen coordinates (the pointer position minus the hot spot).
struct CursorImage {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    uint32_t serial = 0;
    std::vector<uint32_t> argb;
};

// Draws the cursor over a BGRA picture whose top-left pixel is (originX, originY) on the screen,
// clipped to the picture. Blends "over": out = cursor + picture × (255 - alpha) / 255.
void drawCursor(uint8_t* bgra, int stride, int width, int height, int originX, int originY, const CursorImage& cursor);

} // namespace dovrel::agent
