#include "agent/media/CursorOverlay.h"

#include <algorithm>

namespace dovrel::agent {

namespace {
// x × y / 255, rounded, exact for all bytes.
inline uint32_t mulDiv255(uint32_t x, uint32_t y) {
    const uint32_t t = x * y + 128;
    return (t + (t >> 8)) >> 8;
}
} // namespace

void drawCursor(uint8_t* bgra, int stride, int width, int height, int originX, int originY, const CursorImage& cursor) {
    if (cursor.width <= 0 || cursor.height <= 0 ||
        cursor.argb.size() < static_cast<std::size_t>(cursor.width) * static_cast<std::size_t>(cursor.height))
        return;
    // The cursor's rectangle in picture coordinates, clipped.
    const int left = cursor.x - originX, top = cursor.y - originY;
    const int x0 = std::max(left, 0), y0 = std::max(top, 0);
    const int x1 = std::min(left + cursor.width, width), y1 = std::min(top + cursor.height, height);
    for (int y = y0; y < y1; ++y) {
        const uint32_t* src =
            cursor.argb.data() + static_cast<std::size_t>(y - top) * static_cast<std::size_t>(cursor.width);
        uint8_t* row = bgra + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = x0; x < x1; ++x) {
            const uint32_t p = src[x - left];
            const uint32_t a = p >> 24;
            if (a == 0) continue;
            uint8_t* d = row + static_cast<std::ptrdiff_t>(x) * 4;
            const uint32_t keep = 255 - a;
            d[0] = static_cast<uint8_t>(std::min<uint32_t>((p & 0xFF) + mulDiv255(d[0], keep), 255));
            d[1] = static_cast<uint8_t>(std::min<uint32_t>(((p >> 8) & 0xFF) + mulDiv255(d[1], keep), 255));
            d[2] = static_cast<uint8_t>(std::min<uint32_t>(((p >> 16) & 0xFF) + mulDiv255(d[2], keep), 255));
        }
    }
}

} // namespace dovrel::agent
