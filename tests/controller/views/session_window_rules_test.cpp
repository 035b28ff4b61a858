// The session window's rules without a window: the wheel's geometry and actions, the pill's bands, the
// picture's fit, the notices and the controls' dimming on a fake clock.
#include <cmath>
#include <numbers>

#include <QFontMetricsF>

#include <gtest/gtest.h>

#include "../../support/FakeScheduler.h"
#include "../ui/GuiTestApp.h"
#include "controller/ui/session/RadialWheel.h"
#include "controller/ui/session/SessionHud.h"
#include "controller/ui/session/SessionNotices.h"
#include "controller/ui/session/SessionViewModel.h"

using namespace dovrel::controller;
using namespace std::chrono_literals;
using dovrel::test::FakeScheduler;

namespace {

// Whether point (x, y) lies inside a rounded button of geometry `g`, `width` wide, centred at `c`.
bool insideButton(const WheelGeometry& g, double width, QPointF c, double x, double y) {
    const double hw = width / 2, hh = g.buttonHeight / 2, r = g.cornerRadius;
    const double dx = std::abs(x - c.x()), dy = std::abs(y - c.y());
    if (dx > hw || dy > hh) return false;
    if (dx <= hw - r || dy <= hh - r) return true;
    return std::hypot(dx - (hw - r), dy - (hh - r)) <= r;
}

// Buttons `i` and `j` of `n` overlap: walking `j`'s outline in small steps enters `i`.
bool buttonsOverlap(const WheelGeometry& g, int i, int j, int n) {
    const QPointF a = wheelOffset(g, i, n), b = wheelOffset(g, j, n);
    for (int k = 0; k < 720; ++k) {
        const double t = 2 * std::numbers::pi * k / 720;
        // The point where the ray from b's centre at angle t leaves b's rounded outline.
        double lo = 0, hi = g.buttonWidth;
        for (int step = 0; step < 40; ++step) {
            const double mid = (lo + hi) / 2;
            (insideButton(g, g.buttonWidth, b, b.x() + mid * std::cos(t), b.y() + mid * std::sin(t)) ? lo : hi) = mid;
        }
        if (insideButton(g, g.buttonWidth, a, b.x() + lo * std::cos(t), b.y() + lo * std::sin(t))) return true;
    }
    return false;
}

} // namespace

TEST(WheelGeometryTest, NoTwoButtonsTouchAndOneWidthHoldsEveryLabelUnshrunk) {
    dovrel::controller::test::guiApp();
    QFont font = QGuiApplication::font();
    font.setPixelSize(static_cast<int>(RadialWheelModel::labelPixels));
    font.setWeight(QFont::Medium);
    const QFontMetricsF metrics(font);
    for (const WheelWords words : {WheelWords::mac, WheelWords::windows, WheelWords::neutral}) {
        const auto entries = wheelActionsFor(words);
        const int n = static_cast<int>(entries.size());
        const WheelGeometry g =
            wheelGeometry(n, RadialWheelModel::requestedRadius, false, RadialWheelModel::measure(entries));
        EXPECT_GE(RadialWheelModel::labelPixels, 9);
        EXPECT_GE(g.buttonWidth, n > 9 ? 50 : 58) << "never narrower than the wheel allows";
        const double room = g.buttonWidth - 2 * RadialWheelModel::labelMargin;
        // Every label on one line, unless that takes a button wider than the wheel lets one grow.
        double widestLabel = 0;
        for (const auto& e : entries)
            widestLabel = std::max(widestLabel, metrics.horizontalAdvance(e.label));
        EXPECT_TRUE(widestLabel <= room ||
                    widestLabel + 2 * RadialWheelModel::labelMargin > RadialWheelModel::oneLineUpTo)
            << static_cast<int>(words) << ": " << widestLabel << " in " << room;
        for (int i = 0; i < n; ++i) {
            // At full size every word fits its button; a label wider than that breaks at its space
            // onto two lines, each of which fits.
            const QString label = entries[static_cast<std::size_t>(i)].label;
            const QStringList parts = label.split(QLatin1Char(' '));
            if (metrics.horizontalAdvance(label) > room) {
                ASSERT_EQ(parts.size(), 2) << label.toStdString() << " needs more than two lines";
                for (const QString& part : parts)
                    EXPECT_LE(metrics.horizontalAdvance(part), room) << label.toStdString();
            }
            for (int j = i + 1; j < n; ++j)
                EXPECT_FALSE(buttonsOverlap(g, i, j, n)) << static_cast<int>(words) << ": " << i << " and " << j;
        }
        // Nor bigger than it needs: one point less and two would come closer than the gap (the buttons
        // grown by half the gap all round would touch).
        WheelGeometry smaller = g;
        smaller.radius -= 1;
        smaller.buttonWidth += g.gap;
        smaller.buttonHeight += g.gap;
        smaller.cornerRadius += g.gap / 2;
        bool touches = false;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                touches = touches || buttonsOverlap(smaller, i, j, n);
        EXPECT_TRUE(touches);
        // The frame holds every button with 10 to spare, the arc's centre at centerY.
        for (int i = 0; i < n; ++i) {
            const QPointF p = wheelOffset(g, i, n);
            EXPECT_GE(g.frameWidth / 2 + p.x() - g.buttonWidth / 2, 10 - 1e-9);
            EXPECT_LE(g.frameWidth / 2 + p.x() + g.buttonWidth / 2, g.frameWidth - 10 + 1e-9);
            EXPECT_GE(g.centerY + p.y() - g.buttonHeight / 2, 10 - 1e-9);
            EXPECT_LE(g.centerY + p.y() + g.buttonHeight / 2, g.frameHeight - 10 + 1e-9);
        }
    }
    // A short wheel keeps the requested radius and the narrowest button.
    const WheelGeometry three = wheelGeometry(3, 110, false);
    EXPECT_EQ(three.radius, 110);
    EXPECT_EQ(three.buttonWidth, 58);
}

TEST(WheelGeometryTest, TheArcSpansOverTheTopSymmetrically) {
    const int n = 11;
    const WheelGeometry g = wheelGeometry(n, 110, false);
    const QPointF first = wheelOffset(g, 0, n), last = wheelOffset(g, n - 1, n);
    // Just below the left and right horizontals, mirrored.
    EXPECT_LT(first.x(), 0);
    EXPECT_GT(first.y(), 0);
    EXPECT_NEAR(first.x(), -last.x(), 1e-9);
    EXPECT_NEAR(first.y(), last.y(), 1e-9);
    EXPECT_NEAR(std::atan2(first.y(), first.x()), 0.95 * std::numbers::pi, 1e-9);
    // The middle one straight up, all on one circle, evenly spaced.
    EXPECT_NEAR(wheelOffset(g, 5, n).x(), 0, 1e-9);
    EXPECT_NEAR(wheelOffset(g, 5, n).y(), -g.radius, 1e-9);
    const QPointF a = wheelOffset(g, 3, n), b = wheelOffset(g, 4, n), c = wheelOffset(g, 5, n);
    EXPECT_NEAR(std::hypot(a.x(), a.y()), g.radius, 1e-9);
    EXPECT_NEAR(std::hypot(a.x() - b.x(), a.y() - b.y()), std::hypot(b.x() - c.x(), b.y() - c.y()), 1e-9);
    // One action sits straight above; compact shifts everything down by half the radius.
    const WheelGeometry one = wheelGeometry(1, 110, false);
    EXPECT_NEAR(wheelOffset(one, 0, 1).x(), 0, 1e-9);
    EXPECT_NEAR(wheelOffset(one, 0, 1).y(), -110, 1e-9);
    const WheelGeometry compact = wheelGeometry(1, 110, true);
    EXPECT_NEAR(wheelOffset(compact, 0, 1).y(), -55, 1e-9);
    EXPECT_EQ(wheelStaggerMs(0), 0);
    EXPECT_EQ(wheelStaggerMs(4), 100);
}

TEST(WheelActionsTest, EachKindOfMachineGetsItsOwnWordsAndAnUnknownOneWordsTrueEverywhere) {
    const auto windows = wheelActionsFor(WheelWords::windows);
    ASSERT_EQ(windows.size(), 11u);
    QStringList labels;
    for (const auto& e : windows)
        labels << e.label;
    EXPECT_EQ(labels, (QStringList{"Task View", "Start", "Search", "Desktop", "Action Center", "Displays", "Send File",
                                   "Rest", "Lock", "Ctrl+Alt+Del", "End"}));
    EXPECT_EQ(windows[9].tint, WheelTint::warn);
    EXPECT_EQ(windows[10].tint, WheelTint::bad);
    EXPECT_EQ(windows[0].tint, WheelTint::plain);

    const auto mac = wheelActionsFor(WheelWords::mac);
    ASSERT_EQ(mac.size(), 10u);
    EXPECT_EQ(mac[0].label, "Mission");
    EXPECT_EQ(mac[1].label, "Apps");
    EXPECT_EQ(mac[2].label, "Spotlight");
    EXPECT_EQ(mac[4].label, "Notify");
    EXPECT_EQ(mac.back().command, WheelCommand::end);
    for (const auto& e : mac)
        EXPECT_NE(e.command, WheelCommand::ctrlAltDel);

    const auto noFiles = wheelActionsFor(WheelWords::windows, false);
    ASSERT_EQ(noFiles.size(), 10u);
    for (const auto& e : noFiles)
        EXPECT_NE(e.command, WheelCommand::sendFile);
    EXPECT_EQ(noFiles.back().command, WheelCommand::end);

    // A Linux machine, and one whose kind nobody said, get no Mac words.
    EXPECT_EQ(wheelWordsFor("linux"), WheelWords::neutral);
    EXPECT_EQ(wheelWordsFor(""), WheelWords::neutral);
    EXPECT_EQ(wheelWordsFor("mac"), WheelWords::mac);
    QStringList neutral;
    for (const auto& e : wheelActionsFor(WheelWords::neutral))
        neutral << e.label;
    EXPECT_EQ(neutral, (QStringList{"Overview", "Apps", "Search", "Desktop", "Notify", "Displays", "Send File", "Rest",
                                    "Lock", "End"}));
}

TEST(StatusPillTest, LatencyBands) {
    EXPECT_EQ(latencyBandFor(-3), LatencyBand::none);
    EXPECT_EQ(latencyBandFor(0), LatencyBand::none);
    EXPECT_EQ(latencyBandFor(1), LatencyBand::good);
    EXPECT_EQ(latencyBandFor(39), LatencyBand::good);
    EXPECT_EQ(latencyBandFor(40), LatencyBand::fair);
    EXPECT_EQ(latencyBandFor(100), LatencyBand::fair);
    EXPECT_EQ(latencyBandFor(101), LatencyBand::poor);
}

TEST(FittedRectTest, CentresThePictureAndLetterboxes) {
    // Nothing received yet: fitted as 1470 x 956.
    const QRectF early = fittedRect({1470, 1000}, {0, 0});
    EXPECT_EQ(early, QRectF(0, 22, 1470, 956));
    // A wide window: bars left and right.
    EXPECT_EQ(fittedRect({2000, 720}, {1280, 720}), QRectF(360, 0, 1280, 720));
    // A tall one: bars top and bottom.
    EXPECT_EQ(fittedRect({640, 1000}, {1280, 720}), QRectF(0, 320, 640, 360));
}

TEST(SessionNoticesTest, TheSecureScreenComesFirstThenTheLocalNoticeThenTheAgentsError) {
    EXPECT_TRUE(secureScreenShown(true, 0x05));
    EXPECT_FALSE(secureScreenShown(true, 0x07));
    EXPECT_FALSE(secureScreenShown(false, 0x05));
    EXPECT_FALSE(secureScreenShown(true, std::nullopt));

    FakeScheduler clock;
    SessionNotices notices(clock);
    EXPECT_FALSE(notices.shown());
    notices.setAgentError(QString("Disk full"));
    EXPECT_EQ(notices.text(), "Disk full");
    EXPECT_TRUE(notices.error());
    // News over an error is not shown as one; a refusal is.
    notices.setLocalNotice(QString("Screen off."));
    EXPECT_EQ(notices.text(), "Screen off.");
    EXPECT_FALSE(notices.error());
    notices.setLocalNotice(QString("Screen off."), SessionNotices::Tone::refusal);
    EXPECT_TRUE(notices.error());
    notices.setLocalNotice(QString("Screen off."));
    notices.setSecureScreen(true);
    EXPECT_TRUE(notices.text().startsWith("Windows is showing a secure screen"));
    // A tap does nothing to the secure-screen warning.
    notices.dismiss();
    EXPECT_TRUE(notices.secureScreen());
    EXPECT_EQ(notices.localNotice(), QString("Screen off."));
    notices.setSecureScreen(false);
    EXPECT_EQ(notices.text(), "Screen off.");

    // Both go 7 s after the last change, and the client is told to forget its error.
    int cleared = 0;
    QObject::connect(&notices, &SessionNotices::agentErrorCleared, [&] { ++cleared; });
    clock.advance(6999ms);
    EXPECT_TRUE(notices.shown());
    clock.advance(1ms);
    EXPECT_FALSE(notices.shown());
    EXPECT_EQ(cleared, 1);
}

TEST(SessionNoticesTest, AClearNeverRemovesANoticeRaisedAfterIt) {
    FakeScheduler clock;
    SessionNotices notices(clock);
    notices.setLocalNotice(QString("first"));
    clock.advance(5s);
    notices.setLocalNotice(QString("second"));
    clock.advance(6s); // 11 s: past the first one's time
    EXPECT_EQ(notices.text(), "second");
    clock.advance(1s);
    EXPECT_FALSE(notices.shown());

    // The agent repeating the same error is a newer notice: it gets its own 7 s.
    int cleared = 0;
    QObject::connect(&notices, &SessionNotices::agentErrorCleared, [&] { ++cleared; });
    notices.setAgentError(QString("Transfer failed"));
    clock.advance(5s);
    notices.setAgentError(QString("Transfer failed"));
    clock.advance(5s);
    EXPECT_EQ(notices.text(), "Transfer failed");
    EXPECT_EQ(cleared, 0);
    clock.advance(2s);
    EXPECT_FALSE(notices.shown());
    EXPECT_EQ(cleared, 1);
}

TEST(SessionNoticesTest, ATapDismissesAndNothingIsClearedLater) {
    FakeScheduler clock;
    SessionNotices notices(clock);
    int cleared = 0;
    QObject::connect(&notices, &SessionNotices::agentErrorCleared, [&] { ++cleared; });
    notices.setLocalNotice(QString("x"));
    notices.setAgentError(QString("y"));
    notices.dismiss();
    EXPECT_FALSE(notices.shown());
    EXPECT_EQ(cleared, 1);
    // The client's error goes away; a local notice raised later keeps its full time.
    notices.setAgentError(std::nullopt);
    clock.advance(3s);
    notices.setLocalNotice(QString("z"));
    clock.advance(6s);
    EXPECT_EQ(notices.text(), "z");
    EXPECT_EQ(cleared, 1);
    // A notice taken back with no error present leaves nothing pending.
    notices.setLocalNotice(std::nullopt);
    clock.advance(10s);
    EXPECT_EQ(cleared, 1);
}

TEST(SessionHudTest, DimsAfterIdleButNotWhileTheWheelIsOpen) {
    FakeScheduler clock;
    SessionHud hud(clock);
    hud.interact();
    clock.advance(3199ms);
    EXPECT_TRUE(hud.bright());
    clock.advance(1ms);
    EXPECT_FALSE(hud.bright());

    // An interaction re-arms the 3.2 s.
    hud.interact();
    EXPECT_TRUE(hud.bright());
    clock.advance(2s);
    hud.interact();
    clock.advance(2s);
    EXPECT_TRUE(hud.bright());

    // Open wheel: the timer runs out and nothing dims; closing by the backdrop re-arms nothing.
    hud.toggleWheel();
    EXPECT_TRUE(hud.wheelOpen());
    clock.advance(5s);
    EXPECT_TRUE(hud.bright());
    hud.setWheelOpen(false);
    clock.advance(10s);
    EXPECT_TRUE(hud.bright());
    hud.interact();
    clock.advance(3200ms);
    EXPECT_FALSE(hud.bright());

    hud.setShowGuide(true);
    hud.toggleWheel();
    hud.reset();
    EXPECT_FALSE(hud.wheelOpen());
    EXPECT_FALSE(hud.showGuide());
    EXPECT_TRUE(hud.bright());
    clock.advance(10s);
    EXPECT_TRUE(hud.bright());
}

TEST(SessionNoticesTest, ASlowLinkIsSaidOverTheWindowsOwnNoticeForAsLongAsItHolds) {
    FakeScheduler clock;
    SessionNotices notices(clock);
    notices.setLocalNotice(QString("Screen off."));
    notices.setSlowLink(QString("Too slow."));
    // Neither a tap nor the notices' time takes it away; the link does.
    notices.dismiss();
    clock.advance(SessionNotices::clearAfter + 1s);
    EXPECT_EQ(notices.text(), "Too slow.");
    EXPECT_TRUE(notices.error());
    notices.setSlowLink(std::nullopt);
    EXPECT_FALSE(notices.shown());
}
