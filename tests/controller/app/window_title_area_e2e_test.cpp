// The controller's own title area under GNOME's window manager (mutter on a private Xvfb), driven by
// the X server's test pointer: a drag on the deck's header moves the real DovrelController, a drag on
// its edge resizes it (never below 880 wide), a double click maximises it, the button restores it and
// the close button ends it.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/FileText.h"
#include "../../support/SessionBus.h"
#include "../../support/TempHome.h"
#include "../../support/XvfbServer.h"

using namespace std::chrono_literals;

namespace {

// Whether `done` was seen to hold within 20 s. What was seen counts: a state that comes and goes (the
// window manager's cursor while it holds the pointer) is not asked for a second time.
template <typename F> bool waitFor(F&& done) {
    const auto until = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(20ms);
    }
}
template <typename T> std::unique_ptr<T, decltype(&std::free)> owned(T* r) { return {r, &std::free}; }

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};
// The deck's header, and its close and maximise buttons, in the window.
constexpr int headerX = 300, buttonY = 40;
int closeX(const Box& b) { return b.x + b.w - 37; }
int maximizeX(const Box& b) { return b.x + b.w - 73; }

struct TitleAreaE2E : ::testing::Test {
    dovrel::test::XvfbServer xvfb{1600, 1000};
    dovrel::test::TempDir home;
    std::optional<dovrel::test::SessionBus> bus;
    dovrel::test::ChildProcess mutter, controller;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0, window = 0;

    void SetUp() override {
        if (!xvfb.running()) GTEST_SKIP() << "no X server: " << xvfb.failure();
        if (dovrel::test::findProgram("mutter").empty()) GTEST_SKIP() << "mutter is not installed";
        if (!bus.emplace().available()) GTEST_SKIP() << bus->reason();
        c = xcb_connect(xvfb.display().c_str(), nullptr);
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        std::filesystem::create_directory(home.file("run"));
        std::filesystem::permissions(home.file("run"), std::filesystem::perms::owner_all);
        dovrel::test::ChildProcess::Options o;
        o.env = {{"DISPLAY", xvfb.display()},
                 {"DBUS_SESSION_BUS_ADDRESS", bus->address()},
                 {"XDG_RUNTIME_DIR", home.file("run")},
                 {"HOME", home.str()},
                 {"WAYLAND_DISPLAY", ""},
                 {"QT_QPA_PLATFORM", "xcb"},
                 {"QT_QUICK_BACKEND", "software"}};
        ASSERT_TRUE(mutter.start({dovrel::test::findProgram("mutter"), "--x11", "--replace", "--sm-disable"}, o));
        o.env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:";
        o.logFile = home.file("controller.out");
        ASSERT_TRUE(controller.start({DOVREL_CONTROLLER_BINARY}, o));
        ASSERT_TRUE(waitFor([&] {
            for (const uint32_t w : property(root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW))
                if (!window && property(w, "_NET_WM_PID", XCB_ATOM_CARDINAL) == std::vector{uint32_t(controller.pid())})
                    window = w;
            // Shown by mutter (its WM_STATE says normal), so placed: a drag starts where the window stands.
            return window && !property(window, "WM_STATE", XCB_ATOM_ANY).empty() &&
                   property(window, "WM_STATE", XCB_ATOM_ANY)[0] == 1 && drawnAtItsSize();
        })) << dovrel::test::readFile(home.file("controller.out"));
    }
    void TearDown() override { xcb_disconnect(c); }

    std::vector<uint32_t> property(xcb_window_t w, const char* name, xcb_atom_t type) {
        auto a = owned(xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr));
        auto r = owned(xcb_get_property_reply(c, xcb_get_property(c, 0, w, a->atom, type, 0, 64), nullptr));
        const auto* v = r && r->format == 32 ? static_cast<const uint32_t*>(xcb_get_property_value(r.get())) : nullptr;
        return v ? std::vector<uint32_t>(v, v + xcb_get_property_value_length(r.get()) / 4) : std::vector<uint32_t>{};
    }
    Box box() {
        auto g = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
        auto t = owned(xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, root, 0, 0), nullptr));
        return g && t ? Box{t->dst_x, t->dst_y, g->width, g->height} : Box{};
    }
    // The red, green and blue, summed, that the window drew at (x, y) on the screen. Read from the window
    // itself: mutter, under load, can leave the screen showing a window's old picture after a resize it
    // made on its own (a restore), although the window has drawn the new one.
    int brightness(int x, int y) {
        const Box b = box();
        auto r = owned(xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, int16_t(x - b.x), int16_t(y - b.y), 1, 1, ~0u),
            nullptr));
        const uint8_t* p = r ? xcb_get_image_data(r.get()) : nullptr;
        return p ? p[0] + p[1] + p[2] : 0;
    }
    // The window has drawn itself at its size: its close button's ground stands where that size puts it.
    // Its hairline edge shows only while it knows it has a size of its own (not maximised).
    bool drawnAtItsSize() { return box().w >= 880 && brightness(closeX(box()) - 9, box().y + buttonY) > 80; }
    bool edgeDrawn() { return brightness(box().x + box().w - 1, box().y + box().h / 2) > 110; }
    void fake(uint8_t type, int x = 0, int y = 0) {
        // A motion's detail 0: to (x, y) on the screen; a button's 1: the left one.
        xcb_test_fake_input(c, type, type != XCB_MOTION_NOTIFY, XCB_CURRENT_TIME, root, int16_t(x), int16_t(y), 0);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
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
    EXPECT_TRUE(controller.wait(20s).has_value()) << "the close button did not end the program";
}
