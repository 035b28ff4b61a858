#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "controller/client/VideoPicture.h"

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

inline std::string hex(uint32_t rgb) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", rgb);
    return text;
}

// Each channel of `got` within `levels` of `want` (both 0xRRGGBB).
inline ::testing::AssertionResult nearColour(uint32_t got, uint32_t want, int levels) {
    for (int shift : {16, 8, 0})
        if (std::abs(static_cast<int>(got >> shift & 0xFF) - static_cast<int>(want >> shift & 0xFF)) > levels)
            return ::testing::AssertionFailure()
                   << hex(got) << " is not within " << levels << " levels of " << hex(want);
    return ::testing::AssertionSuccess();
}

// The agent's synthetic pattern as the screen shows it: every row one grey, each row one luma level
// above the one before (about 1.16 levels of full-range grey), wrapping from 255 to 0.
inline void expectGreyRamp(const VideoPicture& p) {
    const auto grey = [&](int x, int y) {
        const uint32_t v = p.rgbAt(x, y);
        const int r = static_cast<int>(v >> 16), g = static_cast<int>((v >> 8) & 0xFF), b = static_cast<int>(v & 0xFF);
        EXPECT_LE(std::abs(r - g), 6) << x << "," << y;
        EXPECT_LE(std::abs(b - g), 6) << x << "," << y;
        return g;
    };
    int checked = 0;
    for (int y = 16; y + 8 < p.height; y += 37) {
        const int a = grey(p.width / 2, y), b = grey(p.width / 2, y + 8);
        EXPECT_NEAR(grey(p.width / 32, y), a, 4);
        EXPECT_NEAR(grey(p.width - p.width / 32, y), a, 4);
        // Eight rows down is about nine levels brighter, unless the pattern wrapped in between.
        if (a > 24 && a < 220 && b > a) {
            EXPECT_NEAR(b - a, 9.3, 3.0) << "rows " << y << " and " << y + 8;
            ++checked;
        }
    }
    EXPECT_GE(checked, p.height / 37 / 2);
}

} // namespace dovrel::controller::test
