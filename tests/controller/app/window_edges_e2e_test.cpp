// The real DovrelController's window edges under two window managers on a private X screen: openbox,
// which draws no composited screen and follows a move or resize it is handed until the button it
// believes held goes up, and GNOME's mutter. In a session whose picture is fitted between its top row's
// band and its pill's, scaled down in the window's first size and up in a larger one, presses, releases
// and the wheel at 0, 1 and 4 px from each edge of the picture, in its corners and at the middle of its
// foot reach the scripted agent there, the first and last pixels at the remote screen's own edges; on
// the deck, a tap (press and release back to back) on the header or an edge leaves the window where it
// was and answering the pointer, while a drag still moves and resizes it.
#include <chrono>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include "../../support/FreeUdpPort.h"
#include "../../support/HostileAgent.h"
#include "../../support/TinyH264.h"
#include "../WaitUntil.h"
#include "XDesk.h"

using namespace std::chrono_literals;
using dovrel::controller::test::waitUntil;
using dovrel::test::Box;
using dovrel::test::ChildProcess;
using dovrel::test::XDesk;

namespace {

struct WindowEdgesE2E : ::testing::TestWithParam<const char*> {
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "controller_window_edges_e2e", *argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv); // the agent's sockets
    }
    XDesk desk{GetParam(), 1600, 1000};
    ChildProcess controller;
    xcb_window_t window = 0;

    void launch(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
        ChildProcess::Options o;
        o.env = desk.env();
        o.env.insert(env.begin(), env.end());
        for (const char* folder : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            o.env[folder] = desk.file(folder);
        o.logFile = desk.file("controller.out");
        args.insert(args.begin(), DOVREL_CONTROLLER_BINARY);
        ASSERT_TRUE(controller.start(args, o));
        ASSERT_TRUE(waitUntil([&] { return (window = desk.shownWindowOf(controller.pid())) != 0; }, 60s)) << log();
    }
    std::string log() const { return dovrel::test::readFile(desk.file("controller.out")); }
};

// Where the scripted agent was told a press, a release or a turn of the wheel happened, in remote pixels.
struct Seen {
    double x, y;
    bool pressed, released, scrolled;
};
Seen seenSince(const dovrel::test::TestAgent& agent, size_t from) {
    Seen s{-1, -1, false, false, false};
    for (size_t i = from; i < agent.inputBatches.size(); ++i)
        for (const auto& e : agent.inputBatches[i].events) {
            if (const auto* b = e.event.get<wex::MouseButtonEvent>()) {
                (b->pressed() ? s.pressed : s.released) = true;
                s.x = b->x / 65536.0, s.y = b->y / 65536.0;
            } else if (e.event.get<wex::ScrollEvent>()) {
                s.scrolled = true;
            } else if (const auto* m = e.event.get<wex::MouseMoveEvent>()) {
                s.x = m->x / 65536.0, s.y = m->y / 65536.0;
            }
        }
    return s;
}

// Where the agent's pointer stood when the first scroll since `from` reached it, having stood at
// `before` until then; nothing while no scroll has come.
std::optional<std::pair<double, double>> scrolledAt(const dovrel::test::TestAgent& agent, size_t from,
                                                    std::pair<double, double> before) {
    for (size_t i = from; i < agent.inputBatches.size(); ++i)
        for (const auto& e : agent.inputBatches[i].events) {
            if (e.event.get<wex::ScrollEvent>()) return before;
            if (const auto* m = e.event.get<wex::MouseMoveEvent>()) before = {m->x / 65536.0, m->y / 65536.0};
            if (const auto* b = e.event.get<wex::MouseButtonEvent>()) before = {b->x / 65536.0, b->y / 65536.0};
        }
    return std::nullopt;
}

// The grey picture's rectangle in the window, found from the window's middle outwards: where its pixels
// end. Empty until a picture shows there.
Box pictureIn(XDesk& desk, xcb_window_t window) {
    const Box b = desk.box(window);
    const int cx = b.w / 2, cy = b.h / 2;
    const auto grey = [&](int x, int y) { return desk.brightness(window, b.x + x, b.y + y) > 150; };
    if (!grey(cx, cy)) return {};
    int left = cx, right = cx, top = cy, bottom = cy;
    while (left > 0 && grey(left - 1, cy))
        --left;
    while (right + 1 < b.w && grey(right + 1, cy))
        ++right;
    while (top > 0 && grey(cx, top - 1))
        --top;
    while (bottom + 1 < b.h && grey(cx, bottom + 1))
        ++bottom;
    return {left, top, right - left + 1, bottom - top + 1};
}

} // namespace

TEST_P(WindowEdgesE2E, InASessionThePixelsAtTheEdgesAndCornersAreTheRemoteScreens) {
    if (!desk.unavailable().empty()) GTEST_SKIP() << desk.unavailable();
    dovrel::test::HostileAgent agent;
    ASSERT_TRUE(agent.agent.listen());
    agent.videoPort = dovrel::test::freeUdpPort();
    launch({"-autoHost", "127.0.0.1:" + std::to_string(agent.agent.controlPort()), "-pairingCode",
            agent.agent.pairingCode},
           {{"DOVREL_VIDEO_PORT", std::to_string(agent.videoPort)},
            {"DOVREL_INPUT_PORT", std::to_string(agent.agent.inputPort())}});
    ASSERT_TRUE(waitUntil([&] { return agent.agent.inSession(); }, 60s)) << log();

    // A 1280 x 720 screen, in the window's own size (scaled down, between the top row's band and the
    // pill's) and then in a larger one (scaled up).
    constexpr int W = 1280, H = 720;
    uint32_t frameId = 0;
    QTimer pictures;
    QObject::connect(&pictures, &QTimer::timeout, &pictures, [&] {
        ++frameId;
        agent.sendVideo(
            frameId, dovrel::test::HostileAgent::picture(frameId, W, H, dovrel::test::TinyH264::keyframe(W, H), true));
    });
    pictures.start(50);

    const Box first = desk.box(window);
    for (const auto& [w, h] : {std::pair{first.w, first.h}, std::pair{1560, 960}}) {
        SCOPED_TRACE("a window of " + std::to_string(w) + "x" + std::to_string(h));
        if (w != desk.box(window).w || h != desk.box(window).h) {
            const uint32_t size[] = {uint32_t(w), uint32_t(h)};
            xcb_configure_window(desk.connection(), window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
            xcb_flush(desk.connection());
        }
        // The window has its size and shows the picture fitted in it, and the agent is told its far corner
        // once the pointer stands on the picture's last pixel (the window manager may still move it).
        Box b, pic;
        int moves = 0;
        ASSERT_TRUE(waitUntil(
            [&] {
                b = desk.box(window);
                pic = pictureIn(desk, window);
                if (b.w != w || b.h != h || pic.w == 0) return false;
                desk.fake(XCB_MOTION_NOTIFY, b.x + pic.x + pic.w - 1 - (++moves % 2) * 200, b.y + pic.y + pic.h - 1);
                const Seen s = seenSince(agent.agent, 0);
                return s.x == W - 1 && s.y == H - 1;
            },
            60s))
            << "the agent was told " << seenSince(agent.agent, 0).x << "," << seenSince(agent.agent, 0).y
            << " of a picture at " << pic.x << "," << pic.y << " " << pic.w << "x" << pic.h << " in a window " << b.w
            << "x" << b.h << "\n"
            << log();
        ASSERT_NE(pic.w, W) << "not scaled";
        ASSERT_LE(std::abs(pic.w * H - pic.h * W), W) << "not the screen's shape: " << pic.w << "x" << pic.h;

        // Spots at 0, 1 and 4 pixels inside each edge of the picture, in its corners, and the middle of its
        // foot, where the pill stood over it before it had a band of its own.
        std::vector<std::pair<int, int>> spots; // in the picture
        for (const int d : {0, 1, 4}) {
            const int right = pic.w - 1 - d, bottom = pic.h - 1 - d;
            spots.insert(spots.end(), {{d, pic.h / 2},
                                       {right, pic.h / 2},
                                       {pic.w / 3, d},
                                       {pic.w / 3, bottom},
                                       {pic.w / 2, bottom},
                                       {d, d},
                                       {right, d},
                                       {d, bottom},
                                       {right, bottom}});
        }
        // The remote pixel a window pixel lands on is one it shows; the first and last are the screen's.
        const auto lands = [](double seen, int at, int length, int remote) {
            if (at == 0) return seen == 0;
            if (at == length - 1) return seen == remote - 1;
            const double scale = double(remote) / length;
            return seen == std::floor(seen) && seen < (at + 1) * scale && seen + 1 > at * scale;
        };
        for (const auto& [x, y] : spots) {
            SCOPED_TRACE("at " + std::to_string(x) + "," + std::to_string(y) + " of the picture, at " +
                         std::to_string(pic.x) + "," + std::to_string(pic.y) + " in the window");
            const auto here = [&](double sx, double sy) { return lands(sx, x, pic.w, W) && lands(sy, y, pic.h, H); };
            size_t from = agent.agent.inputBatches.size();
            desk.tap(b.x + pic.x + x, b.y + pic.y + y);
            EXPECT_TRUE(waitUntil([&] { return seenSince(agent.agent, from).released; }, 20s));
            const Seen click = seenSince(agent.agent, from);
            EXPECT_TRUE(click.pressed && here(click.x, click.y)) << "the agent was told " << click.x << "," << click.y;
            // The wheel, turned with the pointer brought from the middle: the scroll reaches the agent
            // with the pointer standing there.
            from = agent.agent.inputBatches.size();
            desk.fake(XCB_MOTION_NOTIFY, b.x + pic.x + pic.w / 2, b.y + pic.y + pic.h / 2);
            ASSERT_TRUE(waitUntil([&] { return seenSince(agent.agent, from).x >= 0; }, 20s));
            const std::pair<double, double> middle{seenSince(agent.agent, from).x, seenSince(agent.agent, from).y};
            from = agent.agent.inputBatches.size();
            desk.tap(b.x + pic.x + x, b.y + pic.y + y, 5);
            std::optional<std::pair<double, double>> wheel;
            EXPECT_TRUE(waitUntil([&] { return (wheel = scrolledAt(agent.agent, from, middle)).has_value(); }, 20s));
            if (wheel) {
                EXPECT_TRUE(here(wheel->first, wheel->second))
                    << "the wheel turned with the pointer at " << wheel->first << "," << wheel->second;
            }
        }
        EXPECT_EQ(desk.box(window), b) << "a press at the edge resized or moved the window";
    }
}

// The deck's header, its maximise button, and spots on its edges, in the window.
TEST_P(WindowEdgesE2E, ATapOnTheHeaderOrAnEdgeLeavesTheWindowWhereItWasAndADragStillMovesAndResizesIt) {
    if (!desk.unavailable().empty()) GTEST_SKIP() << desk.unavailable();
    launch({});
    constexpr int headerX = 300, buttonY = 40;
    const auto maximizeX = [](const Box& b) { return b.x + b.w - 73; };
    const auto lit = [&](const Box& b) { return desk.brightness(window, maximizeX(b) - 9, b.y + buttonY) > 127; };
    // Drawn at its size: its close button's ground stands where that size puts it.
    ASSERT_TRUE(waitUntil(
        [&] {
            const Box b = desk.box(window);
            return b.w >= 880 && desk.brightness(window, b.x + b.w - 46, b.y + buttonY) > 80;
        },
        60s))
        << log();
    // The window answers the pointer, not a window manager holding it: its maximise button lights up
    // under the pointer, and goes out once the pointer has moved on. Asked where the window is now: a
    // window manager can still be placing it after a drag.
    const auto answers = [&] {
        const bool on = waitUntil(
            [&] {
                const Box b = desk.box(window);
                desk.fake(XCB_MOTION_NOTIFY, maximizeX(b), b.y + buttonY);
                return lit(b);
            },
            20s);
        return on && waitUntil(
                         [&] {
                             const Box b = desk.box(window);
                             desk.fake(XCB_MOTION_NOTIFY, b.x + 500, b.y + 400);
                             return !lit(b);
                         },
                         20s);
    };

    const Box b = desk.box(window);
    const std::vector<std::pair<int, int>> spots{
        {headerX, 30}, {b.w - 2, 300}, {b.w - 1, b.h - 1}, {400, b.h - 3}, {1, 300}, {600, 0}, {0, 0}};
    for (const auto& [x, y] : spots) {
        SCOPED_TRACE("a tap at " + std::to_string(x) + "," + std::to_string(y) + " of the window");
        desk.tap(b.x + x, b.y + y);
        EXPECT_TRUE(answers()) << log();
        EXPECT_EQ(desk.box(window), b);
    }

    // A drag hands the window over once it has gone past the drag distance: the right edge widens it,
    // the header moves it.
    const auto drag = [&](int x, int y, int dx, int dy, auto&& arrived) {
        desk.fake(XCB_MOTION_NOTIFY, x, y);
        // The window manager's cursor can outlast the drag before: the window's own shows first.
        const bool free = waitUntil([&] { return !desk.windowManagerHolds(); }, 20s);
        desk.fake(XCB_BUTTON_PRESS);
        desk.fake(XCB_MOTION_NOTIFY, x + dx / 10, y + dy / 10);
        // mutter follows the pointer from where it takes it, openbox from where it was handed it: on
        // once the window manager holds the pointer.
        const bool held = free && waitUntil([&] { return desk.windowManagerHolds(); }, 20s);
        desk.fake(XCB_MOTION_NOTIFY, x + dx, y + dy);
        const bool done = held && waitUntil(arrived, 20s);
        desk.fake(XCB_BUTTON_RELEASE);
        return std::string(!free   ? "the window manager's cursor stayed from before"
                           : !held ? "the window manager never took the pointer"
                           : !done ? "the window did not follow the pointer"
                                   : "");
    };
    EXPECT_EQ(drag(b.x + b.w - 2, b.y + 300, 200, 0, [&] { return desk.box(window).w >= b.w + 60; }), "")
        << "the right edge's drag left the window " << desk.box(window).w << " wide";
    const Box wider = desk.box(window);
    EXPECT_TRUE(answers());
    EXPECT_EQ(drag(wider.x + headerX, wider.y + 30, -200, 100, [&] { return desk.box(window).x <= wider.x - 100; }), "")
        << "the header's drag left the window at " << desk.box(window).x;
    EXPECT_TRUE(answers());
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, WindowEdgesE2E, ::testing::Values("openbox", "mutter"),
                         [](const ::testing::TestParamInfo<const char*>& wm) { return std::string(wm.param); });
