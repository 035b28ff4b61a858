// The real DovrelController against the real DovrelAgent on a private X server: the first launch pairs
// with the agent's code and shows its screen in the window; a second launch, given no code, connects
// by the key the first one left behind and shows the screen again. The session window, in this
// process: the picture fills the fitted rectangle, a click in the window lands at the same place of the
// agent's screen, and the exit chip returns to the deck.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include <QGuiApplication>
#include <QImage>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QUdpSocket>
#include <QtQml/QQmlExtensionPlugin>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "../../agent/desktop/XProbe.h"
#include "../../support/ChildProcess.h"
#include "../../support/QuickItems.h"
#include "../../support/TempHome.h"
#include "../../support/XTestClient.h"
#include "../../support/XvfbServer.h"

#include "controller/app/CompositionRoot.h"
#include "controller/client/WEXClient.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/ui/RootViewModel.h"
#include "controller/ui/SessionViewModel.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)

using namespace std::chrono_literals;
using dovrel::test::ChildProcess;
using dovrel::test::TempDir;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

template <typename F> bool waitFor(F&& done, std::chrono::seconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return done();
}

uint16_t freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// Close to the colour the agent's screen was filled with, after the trip through H.264 and back.
bool near(QRgb pixel, uint32_t rgb) {
    const auto close = [](int a, int b) { return std::abs(a - b) <= 24; };
    return close(qRed(pixel), (rgb >> 16) & 0xff) && close(qGreen(pixel), (rgb >> 8) & 0xff) &&
           close(qBlue(pixel), rgb & 0xff);
}

struct ControllerAgentE2E : ::testing::Test {
    dovrel::test::XvfbServer xvfb{1280, 720};
    TempDir agentHome;
    TempDir controllerHome;
    ChildProcess agent;
    uint16_t videoPort = 0;
    uint16_t controlPort = 0;
    uint16_t inputPort = 0;
    std::string code;

    std::string agentLog() const { return readFile(agentHome.file("agent.out")); }

    // The agent runs on a terminal of its own (script), the only place it prints its pairing code.
    void startAgent() {
        std::filesystem::create_directories(agentHome.path() / ".config/Dovrel");
        std::ofstream(agentHome.file(".config/Dovrel/relay.json")) << "{\"lan\": true}";
        videoPort = freeUdpPort();
        ChildProcess::Options o;
        o.env = {{"HOME", agentHome.str()},
                 {"XDG_CONFIG_HOME", agentHome.file(".config")},
                 {"DISPLAY", xvfb.display()},
                 {"DOVREL_CONTROL_PORT", "0"},
                 {"DOVREL_INPUT_PORT", "0"},
                 {"DOVREL_VIDEO_PORT", std::to_string(videoPort)},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"DBUS_SYSTEM_BUS_ADDRESS", "disabled:"}};
        o.logFile = agentHome.file("agent.out");
        ASSERT_TRUE(agent.start(
            {dovrel::test::findProgram("script"), "-qfec", std::string("'") + DOVREL_AGENT_BINARY + "'", "/dev/null"},
            o));
        static const std::regex ports(R"(CONTROL tcp/(\d+), INPUT udp/(\d+))");
        static const std::regex pairing(R"(PAIRING CODE: (\d+))");
        std::smatch m, c;
        std::string log;
        ASSERT_TRUE(waitFor(
            [&] {
                log = agentLog();
                return std::regex_search(log, m, ports) && std::regex_search(log, c, pairing);
            },
            30s))
            << "the agent did not report its ports and code; its log:\n"
            << log;
        controlPort = static_cast<uint16_t>(std::stoi(m[1]));
        inputPort = static_cast<uint16_t>(std::stoi(m[2]));
        code = c[1];
    }

    // A controller launch, offscreen, saving its window as `snapshot`.
    void launchController(ChildProcess& controller, const std::string& snapshot, bool withCode) {
        ChildProcess::Options o;
        o.env = {{"HOME", controllerHome.str()},
                 {"XDG_CONFIG_HOME", controllerHome.file(".config")},
                 {"XDG_DATA_HOME", controllerHome.file(".local/share")},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"QT_QPA_PLATFORM", "offscreen"},
                 {"QT_QUICK_BACKEND", "software"},
                 {"DOVREL_VIDEO_PORT", std::to_string(videoPort)},
                 {"DOVREL_INPUT_PORT", std::to_string(inputPort)}};
        o.logFile = controllerHome.file("controller.out");
        std::vector<std::string> argv{DOVREL_CONTROLLER_BINARY, "-autoHost", "127.0.0.1:" + std::to_string(controlPort),
                                      "-windowSnapshot", snapshot};
        if (withCode) argv.insert(argv.end(), {"-pairingCode", code});
        ASSERT_TRUE(controller.start(argv, o));
    }

    // What the window showed at the last look at the last look, for the failure message.
    std::string lastSeen = "no picture of the window";

    // The window shows the agent's screen filled with `rgb`.
    bool windowShows(const std::string& snapshot, uint32_t rgb) {
        QImage picture;
        if (!picture.load(QString::fromStdString(snapshot))) return false;
        // Two points of the picture away from the remote pointer, which rests in the middle.
        const QRgb a = picture.pixel(picture.width() / 3, picture.height() / 3);
        const QRgb b = picture.pixel(picture.width() * 2 / 3, picture.height() * 3 / 5);
        lastSeen = QString::asprintf("the window showed #%06x and #%06x", a & 0xffffff, b & 0xffffff).toStdString();
        return near(a, rgb) && near(b, rgb);
    }
};

} // namespace

TEST_F(ControllerAgentE2E, PairsByCodeShowsTheAgentsScreenAndComesBackByKey) {
    if (!xvfb.running()) GTEST_SKIP() << "no X server for the agent: " << xvfb.failure();
    if (dovrel::test::findProgram("script").empty()) GTEST_SKIP() << "no script(1) to give the agent a terminal";
    dovrel::test::XTestClient screen(xvfb.display());
    ASSERT_TRUE(screen.ok());
    constexpr uint32_t first = 0xd0307c, second = 0x2890e0;
    screen.fill(0, 0, screen.width(), screen.height(), first);
    ASSERT_NO_FATAL_FAILURE(startAgent());

    const std::string snapshot = controllerHome.file("window.png");
    {
        ChildProcess controller;
        ASSERT_NO_FATAL_FAILURE(launchController(controller, snapshot, true));
        EXPECT_TRUE(waitFor([&] { return windowShows(snapshot, first); }, 45s))
            << "the agent's screen never showed in the controller's window (" << lastSeen << "); controller:\n"
            << readFile(controllerHome.file("controller.out")) << "\nagent:\n"
            << agentLog();
        // The code paired this controller: the agent keeps its key.
        EXPECT_EQ(std::filesystem::file_size(agentHome.path() / ".dovrel/paired") % 32, 0u);
        EXPECT_GE(std::filesystem::file_size(agentHome.path() / ".dovrel/paired"), 32u);
        controller.stop();
    }

    std::filesystem::remove(snapshot);
    screen.fill(0, 0, screen.width(), screen.height(), second);
    ChildProcess again;
    ASSERT_NO_FATAL_FAILURE(launchController(again, snapshot, false));
    EXPECT_TRUE(waitFor([&] { return windowShows(snapshot, second); }, 45s))
        << "a second launch without a code did not show the agent's screen (" << lastSeen << "); controller:\n"
        << readFile(controllerHome.file("controller.out"));
}

namespace {

// Waits for `done` while the application runs.
template <typename F> bool runUntil(F&& done, std::chrono::seconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

} // namespace

TEST_F(ControllerAgentE2E, TheSessionWindowFitsThePictureLandsClicksAndExitsToTheDeck) {
    if (!xvfb.running()) GTEST_SKIP() << "no X server for the agent: " << xvfb.failure();
    if (dovrel::test::findProgram("script").empty()) GTEST_SKIP() << "no script(1) to give the agent a terminal";
    constexpr uint32_t blue = 0x2890e0;
    {
        dovrel::test::XTestClient screen(xvfb.display());
        ASSERT_TRUE(screen.ok());
        screen.fill(0, 0, screen.width(), screen.height(), blue);
    }
    // A window over the whole screen that records the buttons pressed on it; it keeps the blue.
    dovrel::test::XProbe probe(xvfb.display());
    ASSERT_TRUE(probe.ok());
    ASSERT_NO_FATAL_FAILURE(startAgent());

    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    qputenv("HOME", QByteArray::fromStdString(controllerHome.str()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(controllerHome.file(".config")));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(controllerHome.file(".local/share")));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    qputenv("DOVREL_VIDEO_PORT", QByteArray::number(videoPort));
    qputenv("DOVREL_INPUT_PORT", QByteArray::number(inputPort));
    static int argc = 1;
    static char name[] = "DovrelController";
    static char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    using dovrel::controller::CompositionRoot;
    using Route = dovrel::controller::RootViewModel::Route;
    CompositionRoot controller({{"DovrelController", "-autoHost", QString("127.0.0.1:%1").arg(controlPort),
                                 "-pairingCode", QString::fromStdString(code)},
                                controllerHome.file("controller.ini"),
                                std::make_shared<dovrel::controller::FileSecretStore>(controllerHome.file("secrets"))});
    std::string error;
    ASSERT_TRUE(controller.start(error)) << error;
    QQuickWindow* window = controller.window();
    ASSERT_TRUE(window);
    auto& client = controller.client();
    ASSERT_TRUE(runUntil(
        [&] {
            return controller.root().route() == Route::Session && client.hasFirstFrame() &&
                   client.remoteSize() == QSizeF(1280, 720);
        },
        45s))
        << "no picture in the session window; agent:\n"
        << agentLog();

    // The picture fills the fitted rectangle: 1280 x 720 in the 1120 x 760 window is 1120 x 630, 65 down;
    // the bars above and below stay black.
    ASSERT_EQ(window->size(), QSize(1120, 760));
    const QRectF fit = dovrel::controller::fittedRect(window->size(), client.remoteSize());
    ASSERT_EQ(fit, QRectF(0, 65, 1120, 630));
    QQuickItem* capture = dovrel::test::findItem(window->contentItem(), "inputCapture");
    ASSERT_TRUE(capture);
    EXPECT_EQ(QRectF(capture->mapToScene({0, 0}), capture->size()), fit);
    ASSERT_TRUE(runUntil(
        [&] {
            const QImage shot = window->grabWindow();
            lastSeen = QString::asprintf("#%06x inside, #%06x in the bar", shot.pixel(300, 400) & 0xffffff,
                                         shot.pixel(300, 50) & 0xffffff)
                           .toStdString();
            return near(shot.pixel(300, 400), blue) && near(shot.pixel(900, 120), blue) &&
                   near(shot.pixel(300, 50), 0) && near(shot.pixel(900, 720), 0);
        },
        30s))
        << lastSeen;

    // (280, 219) in the window is (320, 176) on the agent's screen.
    QTest::mouseMove(window, QPoint(280, 219));
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(280, 219), 20);
    std::vector<dovrel::test::XProbe::Button> buttons;
    ASSERT_TRUE(runUntil(
        [&] {
            for (const auto& b : probe.takeButtons())
                buttons.push_back(b);
            return buttons.size() >= 2;
        },
        20s))
        << "the click never reached the agent's screen; agent:\n"
        << agentLog();
    const auto at = probe.pointer();
    EXPECT_NEAR(at.x, 320, 1);
    EXPECT_NEAR(at.y, 176, 1);
    EXPECT_TRUE(buttons[0].press);
    EXPECT_EQ(buttons[0].number, 1);
    EXPECT_FALSE(buttons[1].press);

    // The exit chip ends the session and the deck comes back.
    QQuickItem* exit = dovrel::test::findItem(window->contentItem(), "exitChip");
    ASSERT_TRUE(exit);
    const QPointF chip = exit->mapToScene({exit->width() / 2, exit->height() / 2});
    QTest::mouseClick(window, Qt::LeftButton, {}, chip.toPoint(), 20);
    EXPECT_TRUE(runUntil(
        [&] {
            return controller.root().route() == Route::Deck &&
                   client.phaseKind() == dovrel::controller::PhaseKind::disconnected &&
                   dovrel::test::findItem(window->contentItem(), "inputCapture") == nullptr;
        },
        20s));
}
