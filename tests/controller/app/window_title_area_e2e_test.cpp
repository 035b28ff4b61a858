// The controller's own title area under GNOME's window manager (mutter on a private Xvfb), driven by
// the X server's test pointer: a drag on the deck's header moves the real DovrelController, a drag on
// its edge resizes it (never below 880 wide), a double click maximises it, the button restores it and
// the close button ends it.
#include <chrono>
#include <optional>
#include <string>

#include <xcb/xfixes.h>

#include <gtest/gtest.h>

#include "XDesk.h"

using namespace std::chrono_literals;
using dovrel::test::Box;
using dovrel::test::owned;
using dovrel::test::waitFor;

namespace {

// The deck's header, and its close and maximise buttons, in the window.
constexpr int headerX = 300, buttonY = 40;
int closeX(const Box& b) { return b.x + b.w - 37; }
int maximizeX(const Box& b) { return b.x + b.w - 73; }

struct TitleAreaE2E : ::testing::Test {
    dovrel::test::XDesk desk{"mutter", 1600, 1000};
    dovrel::test::ChildProcess controller;
    xcb_connection_t* c = nullptr;
    xcb_window_t window = 0;

    void SetUp() override {
        if (!desk.unavailable().empty()) GTEST_SKIP() << desk.unavailable();
        c = desk.connection();
        std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        dovrel::test::ChildProcess::Options o;
        o.env = desk.env();
        o.logFile = desk.file("controller.out");
        ASSERT_TRUE(controller.start({DOVREL_CONTROLLER_BINARY}, o));
        // Shown by mutter, so placed: a drag starts where the window stands.
        ASSERT_TRUE(waitFor([&] { return (window = desk.shownWindowOf(controller.pid())) && drawnAtItsSize(); }))
            << dovrel::test::readFile(desk.file("controller.out"));
    }

    Box box() { return desk.box(window); }
    // The red, green and blue, summed, that the window drew at (x, y) on the screen. Read from the window
    // itself: mutter, under load, can leave the screen showing a window's old picture after a resize it
    // made on its own (a restore), although the window has drawn the new one.
    int brightness(int x, int y) { return desk.brightness(window, x, y); }
    // The window has drawn itself at its size: its close button's ground stands where that size puts it.
    // Its hairline edge shows only while it knows it has a size of its own (not maximised).
    bool drawnAtItsSize() { return box().w >= 880 && brightness(closeX(box()) - 9, box().y + buttonY) > 80; }
    bool edgeDrawn() { return brightness(box().x + box().w - 1, box().y + box().h / 2) > 110; }
    void fake(uint8_t type, int x = 0, int y = 0) { desk.fake(type, x, y); }
    void click(int x, int y, int times = 1) {
        fake(XCB_MOTION_NOTIFY, x, y);
        for (int i = 0; i < 2 * times; ++i)
            fake(i % 2 ? XCB_BUTTON_RELEASE : XCB_BUTTON_PRESS);
    }
    // Presses at (x, y) and moves past the drag distance; once the window manager holds the pointer
    // (its own cursor shows: "fleur", "right_side"…), moves on by (dx, dy) and lets go when `arrived`.
    // Then the window answers the pointer again: its maximise button lights up under it, and not after.
    bool mutterHolds() {
        auto r = owned(xcb_xfixes_get_cursor_image_and_name_reply(c, xcb_xfixes_get_cursor_image_and_name(c), nullptr));
        const std::string name(xcb_xfixes_get_cursor_image_and_name_name(r.get()), r->nbytes);
        return name == "fleur" || name.ends_with("_side");
    }
    // What went wrong, or nothing.
    template <typename F> std::string drag(int x, int y, int dx, int dy, F&& arrived) {
        fake(XCB_MOTION_NOTIFY, x, y);
        // mutter's cursor can outlast the drag before: the window's own shows first, so the next one
        // seen is this drag's.
        const bool free = waitFor([&] { return !mutterHolds(); });
        fake(XCB_BUTTON_PRESS);
        fake(XCB_MOTION_NOTIFY, x + (dx > 0) * 12 - (dx < 0) * 12, y + (dy > 0) * 8);
        const bool held = free && waitFor([&] { return mutterHolds(); });
        fake(XCB_MOTION_NOTIFY, x + dx, y + dy);
        const bool done = held && waitFor(arrived);
        fake(XCB_BUTTON_RELEASE);
        const Box b = box();
        const auto lit = [&] { return brightness(maximizeX(b) - 9, b.y + buttonY) > 127; };
        fake(XCB_MOTION_NOTIFY, maximizeX(b), b.y + buttonY);
        const bool answers = waitFor(lit);
        fake(XCB_MOTION_NOTIFY, b.x + headerX, b.y + 30);
        if (!free) return "mutter's cursor stayed from the drag before";
        if (!held) return "mutter never took the pointer";
        if (!done) return "the window did not follow the pointer";
        if (!answers) return "the window did not answer the pointer after the drag";
        return waitFor([&] { return !lit(); }) ? "" : "the maximise button stayed lit";
    }
};

} // namespace

TEST_F(TitleAreaE2E, TheHeaderMovesTheWindowItsEdgeResizesItAndItsButtonsWork) {
    // The window follows a drag on its header from where mutter took the pointer.
    const Box start = box();
    EXPECT_EQ(drag(start.x + headerX, start.y + 30, 150, 90,
                   [&] { return box().x - start.x == 138 && box().y - start.y == 82; }),
              "")
        << "the header's drag left the window at " << box().x << "," << box().y;

    // Its right edge widens it, and narrows it no further than 880.
    const Box moved = box();
    EXPECT_EQ(
        drag(moved.x + moved.w - 2, moved.y + 300, 100, 0, [&] { return std::abs(box().w - moved.w - 88) <= 12; }), "")
        << "the right edge's drag left the window " << box().w << " wide";
    EXPECT_EQ(box().x, moved.x);
    EXPECT_EQ(drag(box().x + box().w - 2, moved.y + 300, -500, 0, [&] { return box().w <= 882; }), "");
    EXPECT_EQ(box().w, 880);

    // A double click on the header maximises it; the maximise button, restore now, gives it its size back.
    const Box normal = box();
    click(normal.x + headerX, normal.y + 30, 2);
    EXPECT_TRUE(waitFor([&] { return box().w == 1600 && drawnAtItsSize() && !edgeDrawn(); }))
        << "a double click did not maximise";
    click(maximizeX(box()), box().y + buttonY);
    EXPECT_TRUE(waitFor([&] { return box().w == normal.w && drawnAtItsSize() && edgeDrawn(); }))
        << "the button did not restore";

    click(closeX(box()), box().y + buttonY);
    EXPECT_EQ(controller.wait(20s), 0) << "the close button did not end the program\n"
                                        << dovrel::test::readFile(desk.file("controller.out"));
}
