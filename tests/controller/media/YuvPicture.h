#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "controller/client/video/VideoPicture.h"

namespace dovrel::controller::test {

// A picture of `w` x `h` in 8-bit 4:2:0, BT.601 video range, whose pixel (x, y) is `colour(x, y)`
// (0xRRGGBB); each chroma sample is the mean of its four pixels, as an encoder's converter makes it.
inline VideoPicture yuvPicture(int w, int h, const std::function<uint32_t(int x, int y)>& colour) {
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const int ys = (w + 63) / 64 * 64, cs = (cw + 63) / 64 * 64;
    auto bytes = std::make_shared<std::vector<uint8_t>>(static_cast<std::size_t>(ys * h + 2 * cs * ch), 0);
    uint8_t* yp = bytes->data();
    uint8_t* up = yp + ys * h;
    uint8_t* vp = up + cs * ch;
    const auto channels = [](uint32_t c) {
        return std::array<double, 3>{double(c >> 16 & 0xFF), double(c >> 8 & 0xFF), double(c & 0xFF)};
    };
    const auto level = [](double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto [r, g, b] = channels(colour(x, y));
            yp[y * ys + x] = level(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255);
        }
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            double u = 0, v = 0;
            int n = 0;
            for (int dy = 0; dy < 2 && 2 * y + dy < h; ++dy)
                for (int dx = 0; dx < 2 && 2 * x + dx < w; ++dx) {
                    const auto [r, g, b] = channels(colour(2 * x + dx, 2 * y + dy));
                    u += (-37.797 * r - 74.203 * g + 112.0 * b) / 255;
                    v += (112.0 * r - 93.786 * g - 18.214 * b) / 255;
                    ++n;
                }
            up[y * cs + x] = level(128 + u / n);
            vp[y * cs + x] = level(128 + v / n);
        }
    VideoPicture p;
    p.width = w;
    p.height = h;
    p.planes.data = {yp, up, vp};
    p.planes.stride = {ys, cs, cs};
    p.planes.owner = bytes;
    return p;
}

} // namespace dovrel::controller::test
