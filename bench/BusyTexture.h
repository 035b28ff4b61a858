#pragma once

#include <cstdint>
#include <random>

namespace dovrel::bench {

// One pixel (0xRRGGBB) of the busy scenes' texture, `width` x `height`, filled row by row from the top
// left with one generator seeded 42: noise tiles, rows of "text" and a gradient. The X11 and the Wayland
// scene draw the same picture from it, so that their figures compare.
inline uint32_t busyTexturePixel(int x, int y, int width, int height, std::mt19937& rng) {
    uint32_t px;
    if ((x / 96 + y / 96) % 3 == 0)
        px = rng(); // noise tiles
    else if ((x / 8) % 5 == 0 && (y / 12) % 2 == 0)
        px = 0x101010; // "text"
    else
        px = static_cast<uint32_t>((x * 255 / width) << 16 | (y * 255 / height) << 8 | ((x ^ y) & 0xFF));
    return px & 0xFFFFFF;
}

} // namespace dovrel::bench
