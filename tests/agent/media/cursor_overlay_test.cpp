#include <gtest/gtest.h>

#include "agent/media/CursorOverlay.h"

using namespace dovrel::agent;

namespace {

struct Picture {
    int w, h, stride;
    std::vector<uint8_t> px;
    Picture(int width, int height, uint8_t fill)
        : w(width), h(height), stride(width * 4 + 8), px(static_cast<std::size_t>(stride) * height, fill) {}
    const uint8_t* at(int x, int y) const { return px.data() + static_cast<std::ptrdiff_t>(y) * stride + x * 4; }
};

CursorImage square(int x, int y, int size, uint32_t argb) {
    return {x, y, size, size, 1, std::vector<uint32_t>(static_cast<std::size_t>(size) * size, argb)};
}

} // namespace

TEST(CursorOverlay, OpaquePixelsReplaceAndTranslucentOnesBlendPremultiplied) {
    Picture p(8, 8, 200);
    CursorImage c{2, 3, 2, 1, 1, {0xFF102030u, 0x80400000u}}; // opaque, then half-covering dark red
    drawCursor(p.px.data(), p.stride, p.w, p.h, 0, 0, c);
    EXPECT_EQ(std::vector<uint8_t>(p.at(2, 3), p.at(2, 3) + 3), (std::vector<uint8_t>{0x30, 0x20, 0x10}));
    // 200 × 127/255 = 100 added to the premultiplied colour.
    EXPECT_EQ(std::vector<uint8_t>(p.at(3, 3), p.at(3, 3) + 3), (std::vector<uint8_t>{100, 100, 0x40 + 100}));
    EXPECT_EQ(p.at(4, 3)[0], 200);
    EXPECT_EQ(p.at(2, 2)[0], 200);
}

TEST(CursorOverlay, ClipsToThePictureAndUsesItsScreenOrigin) {
    // Every placement around and across the edges, on a picture whose origin is (100, 50): nothing is
    // written outside it (the sanitizer build checks), and what is inside is exactly the overlap.
    for (int cx = 90; cx <= 112; ++cx)
        for (int cy = 40; cy <= 62; ++cy) {
            Picture p(10, 10, 0);
            drawCursor(p.px.data(), p.stride, p.w, p.h, 100, 50, square(cx, cy, 4, 0xFFFFFFFFu));
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 10; ++x) {
                    const bool inside = x >= cx - 100 && x < cx - 96 && y >= cy - 50 && y < cy - 46;
                    EXPECT_EQ(p.at(x, y)[0], inside ? 255 : 0);
                }
            // Row padding stays untouched.
            for (int y = 0; y < 10; ++y)
                EXPECT_EQ(p.px[static_cast<std::size_t>(y) * p.stride + 40], 0);
        }
}

TEST(CursorOverlay, IgnoresAnEmptyOrShortCursor) {
    Picture p(4, 4, 7);
    drawCursor(p.px.data(), p.stride, p.w, p.h, 0, 0, CursorImage{});
    drawCursor(p.px.data(), p.stride, p.w, p.h, 0, 0,
               CursorImage{0, 0, 4, 4, 1, std::vector<uint32_t>(3, 0xFFFFFFFFu)});
    for (uint8_t v : p.px)
        EXPECT_EQ(v, 7);
}
