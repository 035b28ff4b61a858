// On a private X server with no window manager: a window that another covers whole is marked covered,
// and its items' motion stops, until any part of it shows again; a window covered in part is not.
#include <QQuickItem>
#include <QQuickWindow>

#include <gtest/gtest.h>

#include "../WaitUntil.h"
#include "XTestClient.h"
#include "XvfbApp.h"
#include "controller/platform/X11WindowCover.h"
#include "controller/ui/look/MotionGate.h"

using namespace dovrel::controller;

namespace {

// A plain window of another client over (x, y, w, h), on the screen once this returns.
xcb_window_t overlay(dovrel::test::XTestClient& client, int x, int y, int w, int h) {
    xcb_connection_t* c = client.connection();
    const xcb_window_t id = xcb_generate_id(c);
    const uint32_t values[] = {0x336699, 1}; // background pixel, override-redirect
    xcb_create_window(c, XCB_COPY_FROM_PARENT, id, client.root(), static_cast<int16_t>(x), static_cast<int16_t>(y),
                      static_cast<uint16_t>(w), static_cast<uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, id);
    client.sync();
    return id;
}

} // namespace

TEST(X11WindowCover, AWindowCoveredWholeIsMarkedAndStillUntilAnyPartShowsAgain) {
    if (!test::gpuXvfb().running()) GTEST_SKIP() << "no X server: " << test::gpuXvfb().failure();
    test::gpuApp();
    QQuickWindow window;
    window.setGeometry(20, 20, 160, 120);
    auto* item = new QQuickItem(window.contentItem());
    window.show();
    ASSERT_TRUE(test::waitUntil([&] { return window.isExposed(); }));
    X11WindowCover cover(window);
    ASSERT_TRUE(cover.watching());
    MotionGate motion(item);
    const auto covered = [&] { return window.property(windowCoveredProperty).toBool(); };

    EXPECT_TRUE(motion.shown());

    dovrel::test::XTestClient desktop(test::gpuXvfb().display());
    ASSERT_TRUE(desktop.ok());
    const xcb_window_t corner = overlay(desktop, 0, 0, 100, 100);
    const xcb_window_t whole = overlay(desktop, 0, 0, 320, 240);
    EXPECT_TRUE(test::waitUntil(covered));
    EXPECT_FALSE(motion.shown());

    // The corner still covers a part.
    xcb_destroy_window(desktop.connection(), whole);
    desktop.sync();
    EXPECT_TRUE(test::waitUntil([&] { return !covered(); }));
    EXPECT_TRUE(motion.shown());
    xcb_destroy_window(desktop.connection(), corner);
}
