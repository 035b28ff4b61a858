// The real DovrelController against the real DovrelAgent, on each desktop the agent serves: a private X
// server, and a headless GNOME Wayland session. The first launch pairs with the agent's code and shows
// its screen in the window; a second launch, given no code, connects by the key the first one left
// behind and shows the screen again. The session window, in this process: the picture fills the fitted
// rectangle, a click in the window lands at the same place of the agent's screen, and the exit chip
// returns to the deck.
#include <chrono>
#include <csignal>
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
#include <QtQml/QQmlExtensionPlugin>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "../../agent/desktop/XProbe.h"
#include "../../support/GnomeSession.h"
#include "../../support/QuickItems.h"
#include "../../support/TempHome.h"
#include "../../support/WaylandProbe.h"
#include "../../support/XTestClient.h"
#include "../../support/XvfbServer.h"
#include "SessionE2E.h"

#include "controller/app/CompositionRoot.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/WEXClient.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionViewModel.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

using namespace std::chrono_literals;
using dovrel::test::ChildProcess;
using dovrel::test::near;
using dovrel::test::readFile;
using dovrel::test::runUntil;
using dovrel::test::TempDir;
using dovrel::test::waitFor;

namespace {

// The agent's desktop, 1280 × 720: what the agent is started with, a way to fill the screen with one
// colour, and a way to see a left click arrive.
class AgentDesktop {
public:
    virtual ~AgentDesktop() = default;
    // Why the desktop cannot run here; empty when it runs.
    virtual std::string unavailable() const = 0;
    virtual std::map<std::string, std::string> env() const = 0;
    virtual void fill(uint32_t rgb) = 0;
    // From now on clicks are recorded.
    virtual void watchClicks() = 0;
    // A left press and release have reached (x, y) of the screen.
    virtual bool clicked(int x, int y) = 0;
};

class XDesktop final : public AgentDesktop {
public:
    std::string unavailable() const override { return xvfb_.running() ? "" : "no X server: " + xvfb_.failure(); }
    std::map<std::string, std::string> env() const override { return {{"DISPLAY", xvfb_.display()}}; }
    void fill(uint32_t rgb) override {
        dovrel::test::XTestClient screen(xvfb_.display());
        ASSERT_TRUE(screen.ok());
        screen.fill(0, 0, screen.width(), screen.height(), rgb);
    }
    // A window over the whole screen that records the buttons pressed on it; it keeps the colour.
    void watchClicks() override {
        probe_.emplace(xvfb_.display());
        ASSERT_TRUE(probe_->ok());
    }
    bool clicked(int x, int y) override {
        for (const auto& b : probe_->takeButtons())
            buttons_.push_back(b);
        if (buttons_.size() < 2) return false;
        const auto at = probe_->pointer();
        return std::abs(at.x - x) <= 1 && std::abs(at.y - y) <= 1 && buttons_[0].press && buttons_[0].number == 1 &&
               !buttons_[1].press;
    }

private:
    dovrel::test::XvfbServer xvfb_{1280, 720};
    std::optional<dovrel::test::XProbe> probe_;
    std::vector<dovrel::test::XProbe::Button> buttons_;
};

// The screen's colour is a full-screen Wayland client's, which also reports the clicks it gets.
class GnomeDesktop final : public AgentDesktop {
public:
    std::string unavailable() const override {
        return gnome_.available() ? "" : "no headless GNOME session: " + gnome_.reason();
    }
    std::map<std::string, std::string> env() const override { return gnome_.env(); }
    void fill(uint32_t rgb) override {
        probe_.reset();
        probe_ = std::make_unique<dovrel::test::WaylandProbe>(gnome_, QString::asprintf("%06x", rgb).toStdString());
        ASSERT_TRUE(probe_->ready()) << probe_->log();
    }
    void watchClicks() override {}
    bool clicked(int x, int y) override {
        const std::string at = " 1 " + std::to_string(x) + " " + std::to_string(y);
        return probe_->saw("press" + at, std::chrono::seconds(0)) &&
               probe_->saw("release" + at, std::chrono::seconds(0));
    }

private:
    dovrel::test::GnomeSession gnome_;
    std::unique_ptr<dovrel::test::WaylandProbe> probe_;
};

struct ControllerAgentE2E : ::testing::TestWithParam<std::string> {
    std::unique_ptr<AgentDesktop> desktop = GetParam() == "GnomeWayland"
                                                ? std::unique_ptr<AgentDesktop>(new GnomeDesktop)
                                                : std::unique_ptr<AgentDesktop>(new XDesktop);
    dovrel::test::AgentOnTerminal agent;
    TempDir controllerHome;

    std::string agentLog() const { return agent.log(); }
    void startAgent() { agent.start(desktop->env()); }
    void stopAgent() { agent.stop(); }

    // A controller launch, offscreen, saving its window as `snapshot`.
    void launchController(ChildProcess& controller, const std::string& snapshot, bool withCode) {
        ChildProcess::Options o;
        o.env = {{"HOME", controllerHome.str()},
                 {"XDG_CONFIG_HOME", controllerHome.file(".config")},
                 {"XDG_DATA_HOME", controllerHome.file(".local/share")},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"QT_QPA_PLATFORM", "offscreen"},
                 {"QT_QUICK_BACKEND", "software"},
                 {"DOVREL_VIDEO_PORT", std::to_string(agent.videoPort)},
                 {"DOVREL_INPUT_PORT", std::to_string(agent.inputPort)}};
        o.logFile = controllerHome.file("controller.out");
        std::vector<std::string> argv{DOVREL_CONTROLLER_BINARY, "-autoHost",
                                      "127.0.0.1:" + std::to_string(agent.controlPort), "-windowSnapshot", snapshot};
        if (withCode) argv.insert(argv.end(), {"-pairingCode", agent.code});
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

TEST_P(ControllerAgentE2E, PairsByCodeShowsTheAgentsScreenAndComesBackByKey) {
    if (!desktop->unavailable().empty()) GTEST_SKIP() << desktop->unavailable();
    if (dovrel::test::findProgram("script").empty()) GTEST_SKIP() << "no script(1) to give the agent a terminal";
    constexpr uint32_t first = 0xd0307c, second = 0x2890e0;
    ASSERT_NO_FATAL_FAILURE(desktop->fill(first));
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
        EXPECT_EQ(std::filesystem::file_size(agent.home.path() / ".dovrel/paired") % 32, 0u);
        EXPECT_GE(std::filesystem::file_size(agent.home.path() / ".dovrel/paired"), 32u);
        // Stopped in the session, the controller closes it and ends the ordinary way.
        ::kill(controller.pid(), SIGTERM);
        EXPECT_EQ(controller.wait(30s), 0) << readFile(controllerHome.file("controller.out"));
    }

    std::filesystem::remove(snapshot);
    ASSERT_NO_FATAL_FAILURE(desktop->fill(second));
    ChildProcess again;
    ASSERT_NO_FATAL_FAILURE(launchController(again, snapshot, false));
    EXPECT_TRUE(waitFor([&] { return windowShows(snapshot, second); }, 45s))
        << "a second launch without a code did not show the agent's screen (" << lastSeen << "); controller:\n"
        << readFile(controllerHome.file("controller.out")) << "\nagent:\n"
        << agentLog();
}

TEST_P(ControllerAgentE2E, TheSessionWindowFitsThePictureLandsClicksAndExitsToTheDeck) {
    if (!desktop->unavailable().empty()) GTEST_SKIP() << desktop->unavailable();
    if (dovrel::test::findProgram("script").empty()) GTEST_SKIP() << "no script(1) to give the agent a terminal";
    constexpr uint32_t blue = 0x2890e0;
    ASSERT_NO_FATAL_FAILURE(desktop->fill(blue));
    ASSERT_NO_FATAL_FAILURE(desktop->watchClicks());
    ASSERT_NO_FATAL_FAILURE(startAgent());

    using Route = dovrel::controller::RootViewModel::Route;
    const auto root = dovrel::test::launchController(controllerHome, agent, true);
    ASSERT_TRUE(root);
    auto& controller = *root;
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

    // The picture fills the fitted rectangle between the top row's 54-point band and the pill's band
    // under it: 1280 x 720 in the 1120 x 654 between them is 1120 x 630, 66 down; the bars above and
    // below stay black.
    ASSERT_EQ(window->size(), QSize(1120, 760));
    QQuickItem* capture = dovrel::test::findItem(window->contentItem(), "inputCapture");
    ASSERT_TRUE(capture);
    const double band = capture->parentItem()->property("titleRoom").toDouble();
    const double pillBand = capture->parentItem()->property("pillRoom").toDouble();
    ASSERT_EQ(band, 54);
    const QRectF fit =
        dovrel::controller::fittedRect(QSizeF(1120, 760 - band - pillBand), client.remoteSize()).translated(0, band);
    ASSERT_EQ(fit, QRectF(0, 66, 1120, 630));
    EXPECT_EQ(QRectF(capture->mapToScene({0, 0}), capture->size()), fit);
    ASSERT_TRUE(runUntil(
        [&] {
            const QImage shot = window->grabWindow();
            lastSeen = QString::asprintf("#%06x inside, #%06x in the bar", shot.pixel(300, 400) & 0xffffff,
                                         shot.pixel(300, 50) & 0xffffff)
                           .toStdString();
            return near(shot.pixel(300, 400), blue) && near(shot.pixel(900, 120), blue) &&
                   near(shot.pixel(300, 50), 0) && near(shot.pixel(900, 740), 0);
        },
        30s))
        << lastSeen;

    // (280, 220) in the window is (320, 176) on the agent's screen.
    QTest::mouseMove(window, QPoint(280, 220));
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(280, 220), 20);
    EXPECT_TRUE(runUntil([&] { return desktop->clicked(320, 176); }, 20s))
        << "the click never reached (320, 176) of the agent's screen; agent:\n"
        << agentLog();

    // The agent stops: the window says so over the dimmed picture, offers to end, and dials on; started
    // again, it is taken back by itself and the notice goes.
    const auto noticeText = [&] {
        QQuickItem* text = dovrel::test::findItem(window->contentItem(), "noticeText");
        return text && text->isVisible() ? text->property("text").toString().toStdString() : std::string();
    };
    ASSERT_NO_FATAL_FAILURE(stopAgent());
    EXPECT_TRUE(
        runUntil([&] { return noticeText() == dovrel::controller::texts::stoppedRunning("", "127.0.0.1"); }, 30s))
        << "the window said \"" << noticeText() << "\"";
    QQuickItem* endOffer = dovrel::test::findItem(window->contentItem(), "noticeEnd");
    EXPECT_TRUE(endOffer && endOffer->isVisible());
    ASSERT_NO_FATAL_FAILURE(startAgent());
    const uint64_t shownBefore = client.displayedFrames();
    EXPECT_TRUE(runUntil(
        [&] { return !client.reconnecting() && noticeText().empty() && client.displayedFrames() > shownBefore; }, 45s))
        << agentLog();

    // The exit chip ends the session and the deck comes back. The controls may have left the picture at
    // rest meanwhile: the pointer brings them back first, as a user's does.
    QQuickItem* exit = dovrel::test::findItem(window->contentItem(), "exitChip");
    ASSERT_TRUE(exit);
    const auto chipPoint = [&] { return exit->mapToScene({exit->width() / 2, exit->height() / 2}).toPoint(); };
    const auto pointAtChip = [&] {
        QTest::mouseMove(window, chipPoint() + QPoint(0, 40));
        QTest::mouseMove(window, chipPoint());
    };
    QQuickItem* chips = dovrel::test::findItem(window->contentItem(), "topChips");
    ASSERT_TRUE(chips);
    // The controls leave 3.2 s after the pointer stops; a machine busy enough can spend that between
    // the move and the click, and the click then reaches the remote machine, as a hand's would. The
    // hand brings them back and clicks again; a click the chip took must end the session.
    QSignalSpy exits(chips, SIGNAL(exitPressed()));
    for (int tries = 0; exits.isEmpty() && tries < 5; ++tries) {
        pointAtChip();
        ASSERT_TRUE(runUntil([&] { return exit->isVisible() && exit->isEnabled() && chips->opacity() == 1; }, 20s));
        pointAtChip(); // just before the click, as a hand moves
        QTest::mouseClick(window, Qt::LeftButton, {}, chipPoint());
    }
    ASSERT_FALSE(exits.isEmpty()) << "the exit chip never took a click while the controls stood; at ("
                                  << chipPoint().x() << ", " << chipPoint().y() << ") in a window of "
                                  << window->width() << " × " << window->height();
    EXPECT_TRUE(runUntil(
        [&] {
            return controller.root().route() == Route::Deck &&
                   client.phaseKind() == dovrel::controller::PhaseKind::disconnected &&
                   dovrel::test::findItem(window->contentItem(), "inputCapture") == nullptr;
        },
        20s))
        << "the session window is still open: the exit chip's click did not end it";
}

INSTANTIATE_TEST_SUITE_P(Desktops, ControllerAgentE2E, ::testing::Values("X11", "GnomeWayland"),
                         [](const ::testing::TestParamInfo<std::string>& desktopName) { return desktopName.param; });
