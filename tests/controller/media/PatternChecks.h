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

#include "YuvPicture.h"
#include "controller/client/video/VideoPicture.h"

namespace dovrel::controller::test {

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
