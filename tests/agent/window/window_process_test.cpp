// The window as a window: fixed at 320 × 640, built once and reused with its content as it was, and
// closing it never ends the program. Then the real DovrelAgent on a private Xvfb: with no tray it opens
// its window by itself after a second and says so in its log, survives the window's close, and a second
// copy brings the window back; with a tray (trayer) it puts its star there; every way of stopping it ends
// it with status 0.

#include <csignal>
#include <cstring>
#include <optional>

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "../../support/FakeScheduler.h"
#include "../../support/SessionBus.h"
#include "../../support/XvfbServer.h"
#include "../shell/ShellTestSupport.h"
#include "WindowTestSupport.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

const std::string windowTitle = "DOVRELÆ - Pair your device";

// A look at the X server from outside, as a window manager would have it.
class XLook {
public:
    explicit XLook(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {}
    ~XLook() { xcb_disconnect(c_); }
    XLook(const XLook&) = delete;
    XLook& operator=(const XLook&) = delete;

    // The mapped top-level window with `title`; 0 when there is none.
    xcb_window_t shownWindow(const std::string& title) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root), nullptr);
        if (!tree) return 0;
        xcb_window_t found = 0;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i)
            if (nameOf(children[i]) == title && mapped(children[i])) found = children[i];
        std::free(tree);
        return found;
    }

    // What a window manager sends when the user clicks the close button.
    void askToClose(xcb_window_t window) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = atom("WM_PROTOCOLS");
        event.data.data32[0] = atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
        xcb_flush(c_);
    }

    // The pointer to (x, y) of `window`, then a press and release of `button` (5: the wheel turned down).
    void click(xcb_window_t window, int x, int y, uint8_t button = 1) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        xcb_translate_coordinates_reply_t* at = xcb_translate_coordinates_reply(
            c_, xcb_translate_coordinates(c_, window, root, static_cast<int16_t>(x), static_cast<int16_t>(y)), nullptr);
        if (!at) return;
        xcb_test_fake_input(c_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, at->dst_x, at->dst_y, 0);
        std::free(at);
        xcb_test_fake_input(c_, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c_, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }

private:
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    }
    std::string nameOf(xcb_window_t w) {
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 0, 256), nullptr);
        std::string name;
        if (r) name.assign(static_cast<const char*>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
        std::free(r);
        return name;
    }
    bool mapped(xcb_window_t w) {
        xcb_get_window_attributes_reply_t* r =
            xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr);
        const bool viewable = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(r);
        return viewable;
    }
    xcb_connection_t* c_;
};

// The agent on the X display `display`, with the synthetic picture and no session bus (so no tray
// through one).
ChildProcess::Options onDisplay(const AgentHome& h, const std::string& display) {
    return h.options({{"DOVREL_SYNTHETIC", "1"},
                      {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + h.home.file("no-bus")},
                      {"QT_QPA_PLATFORM", "xcb"},
                      {"DISPLAY", display}});
}

} // namespace

TEST(AgentWindowPresenter, FixedSizeBuiltOnceReusedAndClosingLeavesTheProgramRunning) {
    guiApp();
    QApplication::setQuitOnLastWindowClosed(false);
    TestWindow w;
    std::vector<bool> codeShown; // what the agent hears of the pairing code being on the screen
    w.commands.onPairingCodeShown = [&](bool shown) { codeShown.push_back(shown); };
    agent::AgentWindowModel& vm = *w.vm;
    agent::AgentWindow window(vm, false);
    EXPECT_EQ(window.view(), nullptr);
    window.present();
    QQuickView* view = window.view();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->status(), QQuickView::Ready);
    EXPECT_EQ(view->title().toStdString(), windowTitle);
    EXPECT_EQ(view->size(), QSize(320, 640));
    EXPECT_EQ(view->minimumSize(), QSize(320, 640));
    EXPECT_EQ(view->maximumSize(), QSize(320, 640));
    EXPECT_TRUE(view->flags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE((view->flags() & Qt::Tool) == Qt::Tool) << "without a tray the window keeps a taskbar entry";
    EXPECT_TRUE(view->isVisible());

    vm.setShowManual(true);
    bool quit = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quit = true; });
    view->close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(quit);
    EXPECT_EQ(codeShown, (std::vector<bool>{true, false}));
    window.present();
    EXPECT_EQ(codeShown.back(), true);
    EXPECT_EQ(window.view(), view);
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(item(*view, "manualBox")->isVisible()) << "the content keeps its state";

    agent::AgentWindow withTray(vm, true);
    withTray.present();
    EXPECT_TRUE((withTray.view()->flags() & Qt::Tool) == Qt::Tool);
}

TEST(AgentWindowProcess, WithoutATrayTheWindowOpensByItselfSurvivesItsCloseAndASecondCopyRaisesIt) {
    XvfbServer x;
    if (!x.available()) GTEST_SKIP() << x.failure();
    ASSERT_TRUE(x.running()) << x.failure();
    FakeSystemctl systemctl;
    AgentHome h;
    ChildProcess agentProcess({DOVREL_AGENT_BINARY}, onDisplay(h, x.display()));
    XLook look(x.display());
    ASSERT_TRUE(waitUntil([&] { return look.shownWindow(windowTitle) != 0; }, 30s)) << h.log();
    EXPECT_NE(h.log().find("no system tray on this desktop"), std::string::npos) << h.log();

    look.askToClose(look.shownWindow(windowTitle));
    ASSERT_TRUE(waitUntil([&] { return look.shownWindow(windowTitle) == 0; }, 20s));
    EXPECT_TRUE(agentProcess.running()) << "closing the window never quits the agent";

    const auto second = runProgram({DOVREL_AGENT_BINARY}, onDisplay(h, x.display()), 30s);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, 0);
    EXPECT_TRUE(waitUntil([&] { return look.shownWindow(windowTitle) != 0; }, 20s)) << h.log();
    EXPECT_TRUE(agentProcess.running());
}

TEST(AgentWindowProcess, WithATrayTheStarGoesThere) {
    const std::string trayer = findProgram("trayer");
    if (trayer.empty()) GTEST_SKIP() << "trayer is not installed";
    XvfbServer x;
    if (!x.available()) GTEST_SKIP() << x.failure();
    ASSERT_TRUE(x.running()) << x.failure();
    FakeSystemctl systemctl;
    AgentHome h;
    ChildProcess::Options trayOptions;
    trayOptions.env = {{"DISPLAY", x.display()}};
    ChildProcess tray({trayer, "--edge", "top", "--widthtype", "request"}, trayOptions);
    XLook look(x.display());
    // trayer owns the tray selection once its panel window is up.
    ASSERT_TRUE(waitUntil([&] { return look.shownWindow("panel") != 0; }, 20s));
    ChildProcess agentProcess({DOVREL_AGENT_BINARY}, onDisplay(h, x.display()));
    ASSERT_TRUE(waitUntil([&] { return h.log().find("• tray item shown") != std::string::npos; }, 30s)) << h.log();
    EXPECT_EQ(h.log().find("no system tray"), std::string::npos);
}

TEST(AgentStopProcess, EveryWayOfStoppingWithTheWindowShownEndsWithStatusZeroAndNoCrashReport) {
    FakeSystemctl systemctl;
    for (const std::string stop : {"SIGTERM", "SIGINT", "SIGHUP", "Quit", "X server gone", "session bus gone"}) {
        SCOPED_TRACE(stop);
        std::optional<XvfbServer> x(std::in_place);
        if (!x->available()) GTEST_SKIP() << x->failure();
        ASSERT_TRUE(x->running()) << x->failure();
        std::optional<SessionBus> bus(std::in_place);
        AgentHome h;
        ChildProcess::Options options = onDisplay(h, x->display());
        if (bus->available()) options.env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
        ChildProcess agentProcess({DOVREL_AGENT_BINARY}, options);
        std::optional<XLook> look(std::in_place, x->display());
        xcb_window_t window = 0;
        ASSERT_TRUE(waitUntil([&] { return (window = look->shownWindow(windowTitle)) != 0; }, 30s)) << h.log();
        if (stop == "Quit") {
            // Quit (40 high) ends the column, 16 above the bottom once scrolled there; until the window takes
            // input, and while the column moves, a click does nothing.
            constexpr int middle = agent::AgentWindow::width / 2;
            ASSERT_TRUE(waitUntil(
                [&] {
                    for (int i = 0; i < 30; ++i)
                        look->click(window, middle, middle, 5);
                    std::this_thread::sleep_for(300ms);
                    look->click(window, middle, agent::AgentWindow::height - 16 - 20);
                    return waitUntil([&] { return h.log().find("• Quit chosen") != std::string::npos; }, 300ms);
                },
                30s))
                << h.log();
        } else if (stop == "X server gone") {
            look.reset();
            x.reset();
        } else if (stop == "session bus gone") {
            if (!bus->available()) GTEST_SKIP() << bus->reason();
            bus.reset();
        } else {
            ::kill(agentProcess.pid(), stop == "SIGTERM" ? SIGTERM : stop == "SIGINT" ? SIGINT : SIGHUP);
        }
        EXPECT_EQ(agentProcess.wait(30s), 0) << h.log();
        EXPECT_TRUE(std::filesystem::is_empty(h.home.file(".dovrel/crashes"))) << h.log();
    }
}
