// The video surface item drawn offscreen by Qt Quick's software renderer: a picture fitted on black
// with its colours, following the item's size; the surface handed to the client's decoder and let go
// of with the item.
#include <cstdlib>

#include <QGuiApplication>
#include <QQuickWindow>

#include <gtest/gtest.h>

#include "../client/ClientTestSupport.h"
#include "../media/PatternChecks.h"
#include "GuiTestApp.h"
#include "controller/ui/session/VideoSurfaceItem.h"

using namespace dovrel::controller;
using namespace std::chrono_literals;

namespace {

// A picture of `w` x `h` whose left half is `left` and right half `right` (0xRRGGBB), in the 4:2:0
// video-range YUV that a decoder gives.
VideoPicture halves(int w, int h, uint32_t left, uint32_t right) {
    return test::yuvPicture(w, h, [&](int x, int) { return x < w / 2 ? left : right; });
}
uint32_t rgb(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

// What the screen shows of a colour that went through 8-bit YUV: each channel within 2 levels.
::testing::AssertionResult shows(const QImage& image, int x, int y, uint32_t colour) {
    return test::nearColour(rgb(image, x, y), colour, 2);
}

struct ItemFixture : ::testing::Test {
    std::unique_ptr<QQuickWindow> window;
    VideoSurfaceItem* item = nullptr;

    void SetUp() override {
        test::guiApp();
        window = std::make_unique<QQuickWindow>();
        window->setColor(Qt::white); // so that black comes from the item
        window->resize(400, 300);
        item = new VideoSurfaceItem(window->contentItem());
        item->setSize(QSizeF(400, 300));
        window->show();
    }
    void TearDown() override { window.reset(); }

    QImage grab() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return window->grabWindow();
    }
};

} // namespace

TEST_F(ItemFixture, ShowsBlackUntilAPictureComesThenFitsItOnBlack) {
    QImage image = grab();
    ASSERT_EQ(image.size(), QSize(400, 300));
    EXPECT_EQ(rgb(image, 200, 150), 0x000000u);
    EXPECT_TRUE(item->pictureRect().isEmpty());

    // 16:9 in 4:3: full width, bars above and below, on whole pixels.
    item->surface()->enqueue(halves(160, 90, 0xFF0000, 0x0000FF));
    image = grab();
    EXPECT_EQ(item->pictureRect(), QRectF(0, 38, 400, 225));
    EXPECT_TRUE(shows(image, 100, 150, 0xFF0000u));
    EXPECT_TRUE(shows(image, 300, 150, 0x0000FFu));
    EXPECT_TRUE(shows(image, 100, 45, 0xFF0000u));
    EXPECT_EQ(rgb(image, 200, 20), 0x000000u);
    EXPECT_EQ(rgb(image, 200, 280), 0x000000u);

    // A tall item: bars left and right, never a stretched picture.
    window->resize(300, 400);
    item->setSize(QSizeF(300, 400));
    image = grab();
    const QRectF r = item->pictureRect();
    EXPECT_DOUBLE_EQ(r.width(), 300);
    EXPECT_DOUBLE_EQ(r.height(), 169); // 168.75, to the pixel
    EXPECT_TRUE(shows(image, 75, 200, 0xFF0000u));
    EXPECT_TRUE(shows(image, 225, 200, 0x0000FFu));
    EXPECT_EQ(rgb(image, 150, 60), 0x000000u);
    EXPECT_EQ(rgb(image, 150, 340), 0x000000u);

    // A narrow picture in a wide item: pillar-boxed.
    window->resize(400, 100);
    item->setSize(QSizeF(400, 100));
    item->surface()->enqueue(halves(50, 100, 0x00FF00, 0xFFFFFF));
    image = grab();
    EXPECT_EQ(item->pictureRect(), QRectF(175, 0, 50, 100));
    EXPECT_TRUE(shows(image, 185, 50, 0x00FF00u));
    EXPECT_TRUE(shows(image, 215, 50, 0xFFFFFFu));
    EXPECT_EQ(rgb(image, 100, 50), 0x000000u);
    EXPECT_EQ(rgb(image, 300, 50), 0x000000u);
}

TEST_F(ItemFixture, EveryNewPictureReplacesTheLastAndTheOldPixelsAreLetGo) {
    std::weak_ptr<const void> first;
    {
        VideoPicture p = halves(64, 48, 0xFF0000, 0xFF0000);
        first = p.planes.owner;
        item->surface()->enqueue(std::move(p));
    }
    EXPECT_TRUE(shows(grab(), 200, 150, 0xFF0000u));
    for (uint32_t c : {0x00FF00u, 0x0000FFu, 0xFFFF00u}) {
        item->surface()->enqueue(halves(64, 48, c, c));
        EXPECT_TRUE(shows(grab(), 200, 150, c));
    }
    EXPECT_TRUE(first.expired());
}

TEST_F(ItemFixture, GivingItTheClientHandsItsSurfaceToTheDecoderWhichHoldsItWeakly) {
    test::ClientFixture f;
    WEXClient& client = f.make();
    item->setClient(&client);
    EXPECT_EQ(item->client(), &client);
    bool held = false;
    client.runOnClientThread([&](ClientCore& c) { held = c.decoder().hasSurface(); });
    EXPECT_TRUE(held);

    // A second item makes its own surface and takes over; the first one's goes with it.
    auto* second = new VideoSurfaceItem(window->contentItem());
    EXPECT_NE(second->surface(), item->surface());
    second->setClient(&client);
    std::weak_ptr<VideoSurface> firstSurface = item->surface();
    delete item;
    item = nullptr;
    EXPECT_TRUE(firstSurface.expired());
    client.runOnClientThread([&](ClientCore& c) { held = c.decoder().hasSurface(); });
    EXPECT_TRUE(held);
    std::weak_ptr<VideoSurface> secondSurface = second->surface();
    delete second;
    EXPECT_TRUE(secondSurface.expired());
    client.runOnClientThread([&](ClientCore& c) { held = c.decoder().hasSurface(); });
    EXPECT_FALSE(held);
}

TEST_F(ItemFixture, APictureIsDrawnWhereTheItemStandsInTheWindow) {
    // Shown at the window's top, then moved under a band there, as the session window lays it out when
    // it leaves full screen for a window with a title area.
    window->resize(400, 400);
    grab();
    item->setPosition(QPointF(0, 100));
    grab();
    item->surface()->enqueue(halves(160, 90, 0xFF0000, 0x0000FF));
    const QImage image = grab();
    EXPECT_EQ(rgb(image, 100, 50), 0xFFFFFFu) << "the band above the item is not the item's";
    EXPECT_EQ(rgb(image, 100, 120), 0x000000u) << "the bar above the picture";
    EXPECT_TRUE(shows(image, 100, 150, 0xFF0000u));
    EXPECT_TRUE(shows(image, 100, 355, 0xFF0000u));
    EXPECT_EQ(rgb(image, 100, 380), 0x000000u) << "the bar under the picture";
}
