// The real DovrelController's window edges under two window managers on a private X screen: openbox,
// which draws no composited screen and follows a move or resize it is handed until the button it
// believes held goes up, and GNOME's mutter. In a session whose picture fills the room below its top band, presses,
// releases and the wheel at 0, 1, 2 and 4 px from each edge and in each corner reach the scripted agent
// at the remote screen's own edge; on the deck, a tap (press and release back to back) on the header or
// an edge leaves the window where it was and answering the pointer, while a drag still moves and
// resizes it.
#include <chrono>
#include <cmath>
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
                s.scrolled = true; // where the pointer last was
            } else if (const auto* m = e.event.get<wex::MouseMoveEvent>()) {
                s.x = m->x / 65536.0, s.y = m->y / 65536.0;
            }
        }
    return s;
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

    // In a window of its own the top row has a band above the picture. The band's height is learnt from
    // where two rows of the window land on a picture of the window's size (fitted into the room below
    // the band), then pictures the size of that room fill it, one remote pixel a pixel of the window.
    const Box size = desk.box(window);
    int picW = size.w, picH = size.h;
    uint32_t frameId = 0;
    QTimer pictures;
    QObject::connect(&pictures, &QTimer::timeout, &pictures, [&] {
        ++frameId;
        agent.sendVideo(frameId, dovrel::test::HostileAgent::picture(
                                     frameId, picW, picH, dovrel::test::TinyH264::keyframe(picW, picH), true));
    });
    pictures.start(50);
    // Where the agent is told the pointer is when it stands at row `y` of the window, or -1 until then.
    const auto rowSeenAt = [&](const Box& at, int y) {
        const size_t from = agent.agent.inputBatches.size();
        desk.fake(XCB_MOTION_NOTIFY, at.x + at.w / 2, at.y + y);
        double seen = -1;
        waitUntil([&] { return (seen = seenSince(agent.agent, from).y) >= 0; }, 2s);
        return seen;
    };
    int band = -1;
    ASSERT_TRUE(waitUntil(
        [&] {
            const Box at = desk.box(window);
            const double upper = rowSeenAt(at, at.h / 3), lower = rowSeenAt(at, 2 * at.h / 3);
            if (upper < 0 || lower <= upper || at.w != size.w || at.h != size.h) return false;
            const double scale = (2 * at.h / 3 - at.h / 3) / (lower - upper); // window pixels a remote pixel
            band = static_cast<int>(std::lround(at.h / 3 - upper * scale));
            return band >= 0 && band < at.h / 4;
        },
        60s))
        << log();
    picH = size.h - band;
    // The window knows the new picture's size once its far corner is the remote screen's far corner (and
    // the window manager has placed it: mutter can move it once more after showing it).
    Box b;
    int moves = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            b = desk.box(window);
            desk.fake(XCB_MOTION_NOTIFY, b.x + b.w - 1 - (++moves % 2) * 200, b.y + b.h - 1);
            const Seen s = seenSince(agent.agent, 0);
            return b.w == size.w && b.h == size.h && std::abs(s.x - (picW - 1)) < 0.5 &&
                   std::abs(s.y - (picH - 1)) < 0.5;
        },
        60s))
        << "the agent was told " << seenSince(agent.agent, 0).x << "," << seenSince(agent.agent, 0).y << " of a window "
        << b.w << "x" << b.h << " at " << b.x << "," << b.y << "\n"
        << log();

    const int far[] = {0, 1, 2, 4};
    std::vector<std::pair<int, int>> spots; // in the window
    for (const int d : far) {
        const int left = d, top = band + d, right = b.w - 1 - d, bottom = b.h - 1 - d;
        spots.insert(spots.end(), {{left, b.h / 2},
                                   {right, b.h / 2},
                                   {b.w / 3, top},
                                   {b.w / 3, bottom},
                                   {left, top},
                                   {right, top},
                                   {left, bottom},
                                   {right, bottom}});
    }
    for (const auto& [x, y] : spots) {
        SCOPED_TRACE("at " + std::to_string(x) + "," + std::to_string(y) + " of the window, under a band of " +
                     std::to_string(band));
        const auto at = [&](const Seen& s) { return std::abs(s.x - x) < 0.5 && std::abs(s.y - (y - band)) < 0.5; };
        size_t from = agent.agent.inputBatches.size();
        desk.tap(b.x + x, b.y + y);
        EXPECT_TRUE(waitUntil([&] { return seenSince(agent.agent, from).released; }, 20s));
        const Seen click = seenSince(agent.agent, from);
        EXPECT_TRUE(click.pressed && at(click)) << "the agent was told " << click.x << "," << click.y;
        from = agent.agent.inputBatches.size();
        desk.tap(b.x + x, b.y + y, 5);
        EXPECT_TRUE(waitUntil([&] { return seenSince(agent.agent, from).scrolled; }, 20s));
        const Seen wheel = seenSince(agent.agent, 0);
        EXPECT_TRUE(at(wheel)) << "the wheel turned with the pointer at " << wheel.x << "," << wheel.y;
    }
    EXPECT_EQ(desk.box(window), b) << "a press at the edge resized or moved the window";
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
