// The video surface item drawn by the scene graph's shader (OpenGL on a private Xvfb, Mesa's software
// rasteriser): the colours it shows match libswscale's conversion of the same planes.
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <gtest/gtest.h>

#include "../media/PatternChecks.h"
#include "XvfbApp.h"
#include "controller/client/video/PictureConverter.h"
#include "controller/ui/session/VideoSurfaceItem.h"

using namespace dovrel::controller;

namespace {

constexpr int W = 96, H = 64, block = 16;

// Saturated colours, greys, mixed and dark tones; a block of 16 x 16 pixels each.
uint32_t patternAt(int x, int y) {
    static constexpr uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x808080,
                                           0xFFFF00, 0x00FFFF, 0xFF00FF, 0x336699, 0xC08040, 0x102030,
                                           0x7F7F00, 0x00407F, 0xE0E0E0, 0x202020, 0x996633, 0x66CC99,
                                           0xAA0055, 0x55AA00, 0x0055AA, 0x404040, 0xF0A0C0, 0x123456};
    return colours[(y / block) * (W / block) + x / block];
}

struct ShaderFixture : ::testing::Test {
    void SetUp() override {
        if (!test::gpuXvfb().running()) GTEST_SKIP() << "no X server: " << test::gpuXvfb().failure();
        test::gpuApp();
    }
};

} // namespace

TEST_F(ShaderFixture, TheShadersColoursMatchLibswscaleWithinTwoLevels) {
    QQuickWindow window;
    window.resize(W, H);
    auto* item = new VideoSurfaceItem(window.contentItem());
    item->setSize(QSizeF(W, H));
    window.show();
    const VideoPicture picture = test::yuvPicture(W, H, patternAt);
    item->surface()->enqueue(picture);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const QImage shown = window.grabWindow();
    ASSERT_TRUE(QSGRendererInterface::isApiRhiBased(window.rendererInterface()->graphicsApi()))
        << "the scene graph does not run on a GPU interface here";
    ASSERT_EQ(shown.size(), QSize(W, H));

    PictureConverter converter(1);
    const auto reference = converter.toRgb(picture);
    ASSERT_TRUE(reference);
    int compared = 0;
    // Inside each block, away from its edges, where chroma siting and filtering play no part.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (x % block < 3 || x % block > block - 4 || y % block < 3 || y % block > block - 4) continue;
            const uint8_t* p = reference->data() + static_cast<std::ptrdiff_t>(y) * reference->stride() + x * 4;
            const uint32_t expected = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
            ASSERT_TRUE(test::nearColour(shown.pixel(x, y) & 0xFFFFFF, expected, 2)) << "at " << x << "," << y;
            ++compared;
        }
    EXPECT_GT(compared, W * H / 4);
}
