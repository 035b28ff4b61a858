// The real DovrelController on a display of its own that goes away, as at the end of a login session: a
// private X server that ends, and a headless GNOME Wayland session whose compositor and session bus end.
// With the deck shown, and in a session with the scripted agent whose pictures the window draws with
// OpenGL, the program ends with status 0 (no crash, no sanitizer report), and the agent hears the session
// closed with a goodbye. So does a stop that comes before its window stands.
#include <chrono>
#include <filesystem>
#include <optional>

#include <signal.h>

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/FileText.h"
#include "../../support/FreeUdpPort.h"
#include "../../support/GnomeSession.h"
#include "../../support/HostileAgent.h"
#include "../../support/SilentBus.h"
#include "../../support/TempHome.h"
#include "../../support/TinyH264.h"
#include "../../support/XvfbServer.h"
#include "../WaitUntil.h"

using namespace std::chrono_literals;
using dovrel::controller::test::waitUntil;
using dovrel::test::ChildProcess;

namespace {

int sealedOf(const dovrel::test::TestAgent& agent, wex::ControlType type) {
    int n = 0;
    for (const auto& s : agent.sealedReceived)
        n += s.type == static_cast<uint8_t>(type) ? 1 : 0;
    return n;
}

} // namespace

TEST(ControllerStopProcess, TheDisplayGoingAwayEndsItWithStatusZeroAndClosesItsSession) {
    static int argc = 1;
    static char name[] = "controller_stop_process_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    for (const bool gnome : {false, true}) {
        for (const bool inSession : {false, true}) {
            SCOPED_TRACE(std::string(gnome ? "GNOME Wayland" : "X11") + (inSession ? ", in a session" : ", deck"));
            std::optional<dovrel::test::XvfbServer> x;
            std::optional<dovrel::test::GnomeSession> session;
            std::map<std::string, std::string> env;
            if (gnome) {
                session.emplace();
                if (!session->available()) {
                    std::printf("no headless GNOME session here (%s): Wayland is not tried\n",
                                session->reason().c_str());
                    break;
                }
                env = session->env();
                env["QT_QPA_PLATFORM"] = "wayland";
            } else {
                x.emplace();
                if (!x->available()) GTEST_SKIP() << x->failure();
                ASSERT_TRUE(x->running()) << x->failure();
                env = {
                    {"DISPLAY", x->display()}, {"QT_QPA_PLATFORM", "xcb"}, {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}};
            }
            dovrel::test::HostileAgent agent;
            ASSERT_TRUE(agent.agent.listen());
            agent.videoPort = dovrel::test::freeUdpPort();
            dovrel::test::TempDir home;
            ChildProcess::Options o;
            o.env = env;
            for (const char* folder : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
                o.env[folder] = home.file(folder);
            o.env["DOVREL_VIDEO_PORT"] = std::to_string(agent.videoPort);
            o.env["DOVREL_INPUT_PORT"] = std::to_string(agent.agent.inputPort());
            o.logFile = home.file("controller.out");
            const auto log = [&] { return dovrel::test::readFile(o.logFile); };
            const std::string snapshot = home.file("window.png");
            ChildProcess controller(
                inSession ? std::vector<std::string>{DOVREL_CONTROLLER_BINARY, "-autoHost",
                                                     "127.0.0.1:" + std::to_string(agent.agent.controlPort()),
                                                     "-pairingCode", agent.agent.pairingCode}
                          : std::vector<std::string>{DOVREL_CONTROLLER_BINARY, "-demo", "-windowSnapshot", snapshot},
                o);
            // Grey pictures, each a keyframe, 50 a second while the window is to draw them.
            uint32_t frameId = 0;
            QTimer pictures;
            QObject::connect(&pictures, &QTimer::timeout, &pictures, [&] {
                ++frameId;
                agent.sendVideo(frameId, dovrel::test::HostileAgent::picture(
                                             frameId, 640, 480, dovrel::test::TinyH264::keyframe(640, 480), true));
            });
            if (inSession) {
                // The session window's video surface asks for a keyframe as it is made.
                ASSERT_TRUE(
                    waitUntil([&] { return sealedOf(agent.agent, wex::ControlType::keyframeRequest) > 0; }, 60s))
                    << log();
                pictures.start(20);
                ASSERT_TRUE(waitUntil([&] { return frameId >= 30; }, 30s));
            } else {
                ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(snapshot); }, 60s)) << log();
            }

            x.reset();
            session.reset();
            ASSERT_TRUE(waitUntil([&] { return !controller.running(); }, 30s)) << log();
            EXPECT_EQ(controller.wait(0s), 0) << log();
            if (inSession) {
                EXPECT_TRUE(waitUntil(
                    [&] {
                        return agent.agent.connectionsEnded == 1 && sealedOf(agent.agent, wex::ControlType::bye) == 1;
                    },
                    10s))
                    << log();
            }
        }
    }
}

// A stop that comes while the program is still being made, before its window stands and its loop runs,
// ends it the orderly way too. It is held there on a session bus that never answers, which it connects
// to from main() before its window is made. Let go, it makes its window without a bus and then stops;
// held on, it has no loop to stop in order and still ends, once it has waited for start-up a while.
TEST(ControllerStopProcess, AStopWhileTheWindowIsBeingMadeEndsItWithStatusZeroLetGoOrNot) {
    dovrel::test::XvfbServer x;
    if (!x.available()) GTEST_SKIP() << x.failure();
    ASSERT_TRUE(x.running()) << x.failure();
    for (const bool letGo : {true, false}) {
        SCOPED_TRACE(letGo ? "let go" : "held on");
        dovrel::test::TempDir home;
        dovrel::test::SilentBus bus(home.file("bus"));
        ASSERT_TRUE(bus.listening());
        ChildProcess::Options o;
        // Drawn without GL: Mesa's driver, unloaded as the display closes, leaves LeakSanitizer a block
        // it can no longer name.
        o.env = {{"DISPLAY", x.display()},
                 {"QT_QPA_PLATFORM", "xcb"},
                 {"QT_QUICK_BACKEND", "software"},
                 {"QT_XCB_GL_INTEGRATION", "none"},
                 {"DBUS_SESSION_BUS_ADDRESS", bus.address()}};
        for (const char* folder : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            o.env[folder] = home.file(folder);
        o.logFile = home.file("controller.out");
        const auto log = [&] { return dovrel::test::readFile(o.logFile); };
        ChildProcess controller({DOVREL_CONTROLLER_BINARY, "-demo"}, o);
        ASSERT_TRUE(bus.held(60s)) << log();
        ASSERT_TRUE(controller.running()) << log();
        ASSERT_EQ(::kill(controller.pid(), SIGTERM), 0);
        if (letGo) bus.close();
        EXPECT_EQ(controller.wait(60s), 0) << log();
    }
}
