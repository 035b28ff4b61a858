// The controller's own title area under GNOME's window manager: the real DovrelController on a private
// Xvfb with mutter managing it, driven by the X server's test pointer as a person's mouse would drive
// it. A drag on the deck's header moves the window, a drag on its edge resizes it (never below 880 x
// 600), a double click on the header and the maximise button maximise it and give it back its size, and
// the minimise and close buttons do what they say.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/SessionBus.h"
#include "../../support/TempHome.h"
#include "../../support/XvfbServer.h"

using namespace std::chrono_literals;
using dovrel::test::ChildProcess;

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* r) { return Reply<T>(r, &std::free); }

template <typename F> bool waitFor(F&& done, std::chrono::seconds limit = 20s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

// The test's own X client: what the window manager says of a window, and the test pointer.
class Desk {
public:
    explicit Desk(const std::string& display) {
        c_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(c_)) return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        std::free(xcb_xfixes_query_version_reply(c_, xcb_xfixes_query_version(c_, 4, 0), nullptr));
        ok_ = true;
    }
    ~Desk() {
        if (c_) xcb_disconnect(c_);
    }
    bool ok() const { return ok_; }

    xcb_atom_t atom(const char* name) {
        auto r = reply(
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    }
    std::vector<uint32_t> property(xcb_window_t w, const char* name, xcb_atom_t type) {
        auto r = reply(xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, atom(name), type, 0, 256), nullptr));
        if (!r || r->format != 32) return {};
        const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
        return {v, v + xcb_get_property_value_length(r.get()) / 4};
    }
    bool wmWatching() { return !property(root_, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW).empty(); }
    // The managed window of process `pid`, or 0.
    xcb_window_t windowOf(pid_t pid) {
        for (const uint32_t w : property(root_, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW)) {
            const auto owner = property(w, "_NET_WM_PID", XCB_ATOM_CARDINAL);
            if (!owner.empty() && static_cast<pid_t>(owner[0]) == pid) return w;
        }
        return 0;
    }
    Box box(xcb_window_t w) {
        auto g = reply(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr));
        auto t = reply(xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr));
        if (!g || !t) return {};
        return {t->dst_x, t->dst_y, g->width, g->height};
    }
    bool hasState(xcb_window_t w, const char* state) {
        const xcb_atom_t wanted = atom(state);
        for (const uint32_t a : property(w, "_NET_WM_STATE", XCB_ATOM_ATOM))
            if (a == wanted) return true;
        return false;
    }
    bool maximized(xcb_window_t w) {
        return hasState(w, "_NET_WM_STATE_MAXIMIZED_VERT") && hasState(w, "_NET_WM_STATE_MAXIMIZED_HORZ");
    }
    // Iconic in ICCCM's WM_STATE.
    bool minimized(xcb_window_t w) {
        const auto s = property(w, "WM_STATE", atom("WM_STATE"));
        return !s.empty() && s[0] == 3;
    }
    // One pixel of the screen, as 0xRRGGBB.
    uint32_t pixel(int x, int y) {
        auto r = reply(xcb_get_image_reply(c_,
                                           xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<int16_t>(x),
                                                         static_cast<int16_t>(y), 1, 1, ~0u),
                                           nullptr));
        if (!r || xcb_get_image_data_length(r.get()) < 4) return 0;
        uint32_t p = 0;
        std::memcpy(&p, xcb_get_image_data(r.get()), 4);
        return p & 0xFFFFFF;
    }
    // Whether the pointer left `w` for someone's grab (the window manager taking it to move or resize
    // the window) since the last call: the X server tells every client that asks.
    // The window manager holds the pointer, moving or resizing a window: the cursor shown is its own
    // ("fleur" to move, "right_side", "bottom_left_corner"… to resize, as mutter names them), not one
    // of the window's (an arrow, the window's resize arrows, a hand).
    bool windowManagerHolds() {
        auto r =
            reply(xcb_xfixes_get_cursor_image_and_name_reply(c_, xcb_xfixes_get_cursor_image_and_name(c_), nullptr));
        if (!r) return false;
        const std::string name(xcb_xfixes_get_cursor_image_and_name_name(r.get()),
                               static_cast<std::size_t>(xcb_xfixes_get_cursor_image_and_name_name_length(r.get())));
        const auto endsWith = [&](const std::string& tail) {
            return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
        };
        return name == "fleur" || name == "move" || endsWith("_side") || endsWith("_corner");
    }
    // Asks the window manager to bring a window back, as a task bar would.
    void activate(xcb_window_t w) {
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = w;
        e.type = atom("_NET_ACTIVE_WINDOW");
        e.data.data32[0] = 2; // from a pager
        xcb_send_event(c_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&e));
        sync();
    }

    void moveTo(int x, int y) { fake(XCB_MOTION_NOTIFY, 0, x, y); }
    void press() { fake(XCB_BUTTON_PRESS, 1); }
    void release() { fake(XCB_BUTTON_RELEASE, 1); }
    void click(int x, int y) {
        moveTo(x, y);
        press();
        release();
    }
    void doubleClick(int x, int y) {
        click(x, y);
        click(x, y);
    }

private:
    void fake(uint8_t type, uint8_t detail, int x = 0, int y = 0) {
        xcb_test_fake_input(c_, type, detail, XCB_CURRENT_TIME, type == XCB_MOTION_NOTIFY ? root_ : XCB_NONE,
                            static_cast<int16_t>(x), static_cast<int16_t>(y), 0);
        sync();
    }
    void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    bool ok_ = false;
};

bool near(int a, int b, int slack) { return std::abs(a - b) <= slack; }

// Where the deck's header and its buttons are in the window: the header row is 36 high and 22 down;
// the window's buttons, 26 across and 10 apart, end 24 in from the right edge.
constexpr int headerY = 40;
int closeX(const Box& b) { return b.w - 24 - 13; }
int maximizeX(const Box& b) { return closeX(b) - 36; }
int minimizeX(const Box& b) { return closeX(b) - 72; }
// A point of the header away from its controls: past the wordmark, before the trailing buttons.
constexpr int headerFreeX = 300;

struct TitleAreaE2E : ::testing::Test {
    dovrel::test::XvfbServer xvfb{1600, 1000};
    dovrel::test::TempDir home;
    std::unique_ptr<dovrel::test::SessionBus> bus;
    ChildProcess mutter;
    ChildProcess controller;
    std::unique_ptr<Desk> desk;
    xcb_window_t window = 0;

    void SetUp() override {
        if (!xvfb.running()) GTEST_SKIP() << "no X server: " << xvfb.failure();
        if (dovrel::test::findProgram("mutter").empty()) GTEST_SKIP() << "mutter is not installed";
        bus = std::make_unique<dovrel::test::SessionBus>();
        if (!bus->available()) GTEST_SKIP() << bus->reason();
        desk = std::make_unique<Desk>(xvfb.display());
        ASSERT_TRUE(desk->ok());

        const std::string runtime = home.file("runtime");
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        ChildProcess::Options wm;
        wm.env = {{"DISPLAY", xvfb.display()},
                  {"DBUS_SESSION_BUS_ADDRESS", bus->address()},
                  {"XDG_RUNTIME_DIR", runtime},
                  {"WAYLAND_DISPLAY", ""}};
        wm.logFile = home.file("mutter.log");
        ASSERT_TRUE(mutter.start({dovrel::test::findProgram("mutter"), "--x11", "--replace", "--sm-disable"}, wm));
        ASSERT_TRUE(waitFor([&] { return desk->wmWatching(); })) << "mutter did not take the screen";

        ChildProcess::Options o;
        o.env = {{"HOME", home.str()},
                 {"XDG_CONFIG_HOME", home.file(".config")},
                 {"XDG_DATA_HOME", home.file(".local/share")},
                 {"XDG_RUNTIME_DIR", runtime},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"DISPLAY", xvfb.display()},
                 {"WAYLAND_DISPLAY", ""},
                 {"QT_QPA_PLATFORM", "xcb"},
                 {"QT_QUICK_BACKEND", "software"}};
        o.logFile = home.file("controller.out");
        ASSERT_TRUE(controller.start({DOVREL_CONTROLLER_BINARY}, o));
        // Up once the window manager manages its window and the deck's dark ground is drawn in it.
        ASSERT_TRUE(waitFor([&] {
            window = desk->windowOf(controller.pid());
            if (!window) return false;
            const Box b = desk->box(window);
            const uint32_t p = desk->pixel(b.x + headerFreeX, b.y + 8);
            return b.w >= 880 && near(int(p >> 16), 10, 12) && near(int((p >> 8) & 0xFF), 13, 12) &&
                   near(int(p & 0xFF), 26, 14);
        })) << "the controller's window did not come up; its output:\n"
            << read(home.file("controller.out"));
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    Box box() { return desk->box(window); }

    // Presses at (x, y), moves past the drag threshold, waits until the window manager has taken the
    // pointer (the window asks it to move or resize; its moves then follow the pointer from where it
    // is), moves on by (dx, dy) in all and lets go once `arrived`.
    template <typename F> bool drag(int x, int y, int dx, int dy, F&& arrived) {
        desk->moveTo(x, y);
        desk->press();
        desk->moveTo(x + (dx > 0 ? 12 : dx < 0 ? -12 : 0), y + (dy > 0 ? 8 : dy < 0 ? -8 : 0));
        const bool taken = waitFor([&] { return desk->windowManagerHolds(); });
        desk->moveTo(x + dx, y + dy);
        const bool done = taken && waitFor(arrived);
        desk->release();
        return done && answersThePointer();
    }
    // The window follows the pointer again once the window manager let go of it: its maximise button
    // lights up under the pointer and goes dark when it leaves (its ground beside the glyph).
    bool answersThePointer() {
        const auto lit = [&] {
            const Box b = box();
            const uint32_t p = desk->pixel(b.x + maximizeX(b) - 9, b.y + headerY);
            return (p >> 16) + ((p >> 8) & 0xFF) + (p & 0xFF) > 127;
        };
        const Box b = box();
        desk->moveTo(b.x + maximizeX(b), b.y + headerY);
        if (!waitFor(lit)) return false;
        desk->moveTo(b.x + headerFreeX, b.y + 30);
        return waitFor([&] { return !lit(); });
    }
    // The window draws its hairline edge only while it has a size of its own: it knows it is not
    // maximised (the edge reads lighter than the dark ground).
    bool edgeDrawn() {
        const Box b = box();
        const uint32_t p = desk->pixel(b.x + b.w - 1, b.y + b.h / 2);
        return (p >> 16) + ((p >> 8) & 0xFF) + (p & 0xFF) > 110;
    }
    // The window has drawn itself at the size it has now: its close button's round ground stands where
    // that size puts it (lighter than the header's dark ground).
    bool drawnAtItsSize() {
        const Box b = box();
        const uint32_t p = desk->pixel(b.x + closeX(b) - 9, b.y + headerY);
        return (p >> 16) + ((p >> 8) & 0xFF) + (p & 0xFF) > 80;
    }
    bool maximizedAndSeen() { return desk->maximized(window) && drawnAtItsSize() && !edgeDrawn(); }
    bool restoredAndSeen(int width) {
        return !desk->maximized(window) && box().w == width && drawnAtItsSize() && edgeDrawn();
    }
};

} // namespace

TEST_F(TitleAreaE2E, TheHeaderMovesTheWindowItsEdgesResizeItAndItsButtonsWork) {
    // A drag on the header moves the window with the pointer.
    const Box start = box();
    EXPECT_TRUE(drag(start.x + headerFreeX, start.y + 30, 150, 90,
                     [&] {
                         const Box b = box();
                         return near(b.x - start.x, 138, 3) && near(b.y - start.y, 82, 3);
                     }))
        << "the window did not follow a drag on its header: from " << start.x << "," << start.y << " to " << box().x
        << "," << box().y;
    EXPECT_EQ(box().w, start.w) << "a move keeps the size";

    // Its right edge makes it wider; it never gets narrower than 880.
    const Box moved = box();
    EXPECT_TRUE(
        drag(moved.x + moved.w - 2, moved.y + moved.h / 2, 100, 0, [&] { return near(box().w - moved.w, 88, 12); }))
        << "the right edge did not resize: " << moved.w << " -> " << box().w;
    const Box wider = box();
    EXPECT_EQ(wider.x, moved.x) << "a resize from the right keeps the left edge";
    EXPECT_TRUE(drag(wider.x + wider.w - 2, wider.y + wider.h / 2, -500, 0, [&] { return box().w <= 882; }))
        << "the edge drag did not shrink the window: " << box().w;
    EXPECT_EQ(box().w, 880) << "the window's minimum width";
    // The bottom edge: never lower than 600.
    const Box narrow = box();
    EXPECT_TRUE(drag(narrow.x + narrow.w / 2, narrow.y + narrow.h - 2, 0, -400, [&] { return box().h <= 602; }));
    EXPECT_EQ(box().h, 600) << "the window's minimum height";

    // A double click on the header maximises it; another (a double click of its own, away from the
    // first) gives it back its size.
    const Box normal = box();
    desk->doubleClick(normal.x + headerFreeX, normal.y + 30);
    EXPECT_TRUE(waitFor([&] { return maximizedAndSeen(); })) << "a double click did not maximise";
    const Box full = box();
    desk->doubleClick(full.x + headerFreeX + 60, full.y + 30);
    EXPECT_TRUE(waitFor([&] { return restoredAndSeen(normal.w); }))
        << "a second double click did not restore: " << box().w;

    // The maximise button does the same, and, maximised, restores.
    Box b = box();
    desk->click(b.x + maximizeX(b), b.y + headerY);
    EXPECT_TRUE(waitFor([&] { return maximizedAndSeen(); })) << "the maximise button did not maximise";
    b = box();
    desk->click(b.x + maximizeX(b), b.y + headerY);
    EXPECT_TRUE(waitFor([&] { return restoredAndSeen(normal.w); })) << "the button did not restore once maximised";

    // Minimise hides it until the desktop brings it back.
    b = box();
    desk->click(b.x + minimizeX(b), b.y + headerY);
    EXPECT_TRUE(waitFor([&] { return desk->minimized(window); })) << "the minimise button did nothing";
    desk->activate(window);
    ASSERT_TRUE(waitFor([&] { return !desk->minimized(window) && edgeDrawn(); }));

    // Close ends the program.
    b = box();
    desk->click(b.x + closeX(b), b.y + headerY);
    EXPECT_TRUE(controller.wait(20s).has_value()) << "the close button did not end the program";
}
