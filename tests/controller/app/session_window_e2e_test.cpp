// The real session window (the program's composition root, offscreen, in this process) against the real
// DovrelAgent on a private Xvfb. A still screen is in the window within a second of the session standing:
// in a session the program opens by itself, in one dialled again by hand, and in that of a new launch
// by key; and the remote pointer stays where it was until the user moves over the picture.
// Behind the in-process shaper, the slow-link notice comes while pictures arrive damaged and goes once
// the link is fast again.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/QQmlExtensionPlugin>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "../../agent/desktop/XProbe.h"
#include "../../support/BusyPainter.h"
#include "../../support/LinkShaper.h"
#include "../../support/QuickItems.h"
#include "../../support/XTestClient.h"
#include "../../support/XvfbServer.h"
#include "SessionE2E.h"
#include "controller/client/session/WEXClient.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionViewModel.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

using namespace std::chrono_literals;
using dovrel::controller::CompositionRoot;
using dovrel::controller::PhaseKind;
using dovrel::test::runUntil;
using Clock = std::chrono::steady_clock;
using Route = dovrel::controller::RootViewModel::Route;

namespace {

constexpr uint32_t still = 0x2890e0;

struct SessionWindowE2E : ::testing::Test {
    dovrel::test::XvfbServer x{1280, 720};
    dovrel::test::AgentOnTerminal agent;
    dovrel::test::TempDir controllerHome;
    std::string lastSeen = "no picture of the window";

    void SetUp() override {
        if (!x.running()) GTEST_SKIP() << "no X server: " << x.failure();
        if (dovrel::test::findProgram("script").empty()) GTEST_SKIP() << "no script(1) to give the agent a terminal";
    }

    // The window shows the agent's screen filled with `rgb`, the loading overlay gone from over it.
    bool windowShows(QQuickWindow& window, uint32_t rgb) {
        const QImage shot = window.grabWindow();
        // Two points of the picture, fitted between the window's bands, away from the remote pointer.
        const QRgb a = shot.pixel(300, 400), b = shot.pixel(900, 160);
        lastSeen = QString::asprintf("the window showed #%06x and #%06x", a & 0xffffff, b & 0xffffff).toStdString();
        return dovrel::test::near(a, rgb) && dovrel::test::near(b, rgb);
    }

    // When the phase last turned to connected; watched from the launch on, before the application turns.
    std::optional<Clock::time_point> stood;
    std::unique_ptr<CompositionRoot> launch(bool withCode) {
        auto c = dovrel::test::launchController(controllerHome, agent, withCode);
        auto& client = c->client();
        QObject::connect(&client, &dovrel::controller::WEXClient::phaseChanged, [this, &client] {
            if (client.phaseKind() == PhaseKind::connected && !stood) stood = Clock::now();
        });
        return c;
    }

    // Seconds from the session standing until its still screen is in the window; nothing when it never
    // is, or no session stood.
    std::optional<double> secondsToPicture(CompositionRoot& c) {
        if (!runUntil([&] { return stood && windowShows(*c.window(), still); }, 45s)) return std::nullopt;
        const double seconds = std::chrono::duration<double>(Clock::now() - *stood).count();
        stood.reset();
        return seconds;
    }
};

} // namespace

TEST_F(SessionWindowE2E, AStillScreenIsUpAtOnceInEverySessionAndThePointerStaysUntilTheUserMovesIt) {
    dovrel::test::XTestClient screen(x.display());
    ASSERT_TRUE(screen.ok());
    screen.fill(0, 0, screen.width(), screen.height(), still);
    dovrel::test::XProbe probe(x.display());
    ASSERT_TRUE(probe.ok());
    const auto restsAt = probe.pointer();
    ASSERT_NO_FATAL_FAILURE(agent.start({{"DISPLAY", x.display()}}));

    // The program's first launch pairs by code and opens the session by itself; the local pointer rests
    // where the picture will be.
    auto first = launch(true);
    QQuickWindow* window = first->window();
    ASSERT_TRUE(window);
    window->requestActivate();
    ASSERT_TRUE(runUntil([&] { return window->isActive(); }, 10s));
    QTest::mouseMove(window, QPoint(200, 500));
    const auto inFirst = secondsToPicture(*first);
    ASSERT_TRUE(inFirst) << lastSeen << "; agent:\n" << agent.log();
    // The pointer at rest under the window that appeared moved nothing; the user's own move does.
    const auto remote = probe.pointer();
    EXPECT_TRUE(remote.x == restsAt.x && remote.y == restsAt.y)
        << "the remote pointer went to " << remote.x << ", " << remote.y << " by itself";
    // (280, 220) in the window is (320, 176) on the agent's screen.
    QTest::mouseMove(window, QPoint(280, 220));
    EXPECT_TRUE(runUntil(
        [&] {
            const auto p = probe.pointer();
            return std::abs(p.x - 320) <= 1 && std::abs(p.y - 176) <= 1;
        },
        20s))
        << "the user's move never reached the agent's screen";

    // Ended, and dialled again by hand, by key: the window is there before the session stands. The last
    // session's window has gone first, and its picture with it.
    first->root().endSession();
    ASSERT_TRUE(runUntil(
        [&] {
            return first->client().phaseKind() == PhaseKind::disconnected &&
                   !dovrel::test::findItem(window->contentItem(), "inputCapture");
        },
        20s));
    first->root().connectLAN(QString("127.0.0.1:%1").arg(agent.controlPort), "Still", "", "linux");
    const auto byHand = secondsToPicture(*first);
    ASSERT_TRUE(byHand) << lastSeen << "; agent:\n" << agent.log();
    first->root().endSession();
    ASSERT_TRUE(runUntil([&] { return first->client().phaseKind() == PhaseKind::disconnected; }, 20s));
    first.reset();

    // A new launch comes by the key the first one left, and opens its session by itself again.
    auto second = launch(false);
    const auto byKey = secondsToPicture(*second);
    ASSERT_TRUE(byKey) << lastSeen << "; agent:\n" << agent.log();

    std::printf("first picture after the session stood: %.2f s (first launch, by code), %.2f s (dialled by hand), "
                "%.2f s (second launch, by key)\n",
                *inFirst, *byHand, *byKey);
    // The agent sends the whole first picture at once: the window shows it rather than the next keyframe,
    // which a still screen brings seconds later.
    for (const double s : {*inFirst, *byHand, *byKey})
        EXPECT_LT(s, 1.0);
}

TEST_F(SessionWindowE2E, TheSlowLinkNoticeComesWhilePicturesArriveDamagedAndGoesOnceTheLinkIsFastAgain) {
    dovrel::test::BusyPainter painter(x.display());
    agent.videoPort = dovrel::test::freeUdpPort();
    dovrel::test::LinkShaper shaper(agent.videoPort);
    agent.sendsVideoTo = shaper.port();
    ASSERT_NO_FATAL_FAILURE(agent.start({{"DISPLAY", x.display()}}));
    auto c = dovrel::test::launchController(controllerHome, agent, true);
    QQuickWindow* window = c->window();
    ASSERT_TRUE(window);
    ASSERT_TRUE(runUntil([&] { return c->root().route() == Route::Session && c->client().hasFirstFrame(); }, 45s))
        << agent.log();

    const auto notice = [&] {
        QQuickItem* text = dovrel::test::findItem(window->contentItem(), "noticeText");
        return text && text->isVisible() ? text->property("text").toString() : QString();
    };
    // Below the least the agent sends: whatever it does, pictures cannot come whole.
    shaper.setRate(250'000);
    EXPECT_TRUE(runUntil([&] { return notice() == dovrel::controller::linkTooSlowText(true); }, 60s))
        << "the window said \"" << notice().toStdString() << "\"";
    shaper.setRate(0);
    EXPECT_TRUE(runUntil([&] { return notice().isEmpty(); }, 60s))
        << "the window still says \"" << notice().toStdString() << "\"";
}
