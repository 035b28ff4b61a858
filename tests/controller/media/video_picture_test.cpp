// Whether two decoded pictures show the same thing, which decides whether a picture is drawn again.
#include <gtest/gtest.h>

#include "YuvPicture.h"

using namespace dovrel::controller;

TEST(VideoPictureSameness, SamePixelsElsewhereAreTheSameAnyOtherByteOrSizeIsNot) {
    const auto pattern = [](int x, int y) { return (static_cast<uint32_t>(x) * 2654435761u ^ y * 40503u) & 0xFFFFFF; };
    const VideoPicture a = test::yuvPicture(33, 17, pattern);
    VideoPicture b = test::yuvPicture(33, 17, pattern);
    const_cast<uint8_t*>(b.planes.data[0])[3 * b.planes.stride[0] + 40] = 0xA5; // in a row's padding
    EXPECT_TRUE(showsTheSame(a, b));
    for (std::size_t i = 0; i < 3; ++i) { // the last byte of each plane, in a picture of odd size
        auto* last = const_cast<uint8_t*>(b.planes.data[i]) + (i ? 8 : 16) * b.planes.stride[i] + (i ? 16 : 32);
        ++*last;
        EXPECT_FALSE(showsTheSame(a, b)) << "plane " << i;
        --*last;
    }
    b.height = 16;
    EXPECT_FALSE(showsTheSame(a, b));
}
