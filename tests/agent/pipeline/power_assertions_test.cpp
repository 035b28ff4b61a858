// The power assertions against a stand-in logind on a private bus and a private Xvfb: the inhibitor is
// asked for as it should be and held until the agent lets go, the screensaver stays off while the
// display is held and comes back in rest mode, and logind's word that the machine woke gets through.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include "../../support/SessionBus.h"
#include "../../support/XvfbServer.h"
#include "PipelineTestSupport.h"
#include "agent/desktop/LinuxPowerAssertions.h"

using namespace dovrel;
using namespace dovrel::test;

namespace {

const QString noBus = QStringLiteral("unix:path=/nonexistent/dovrel-test-system-bus");

// Stands in for logind's manager on the private bus; answers on the test thread.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QList<QStringList> inhibits;
    int heldEnd = -1; // our end of the pipe whose other end the caller holds

    ~FakeLogind() override {
        if (heldEnd >= 0) ::close(heldEnd);
    }
    // True once every copy of the descriptor handed out is closed.
    bool released() const {
        pollfd p{heldEnd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode) {
        inhibits.append({what, who, why, mode});
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return {};
        if (heldEnd >= 0) ::close(heldEnd);
        heldEnd = fds[0];
        QDBusUnixFileDescriptor out(fds[1]); // a copy goes to the caller
        ::close(fds[1]);
        return out;
    }
};

// The X screensaver as a client sees it.
class ScreenSaverProbe {
public:
    explicit ScreenSaverProbe(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~ScreenSaverProbe() { xcb_disconnect(c_); }
    // Blanks after `seconds` without input.
    void timeout(int16_t seconds) {
        std::free(xcb_request_check(
            c_, xcb_set_screen_saver_checked(c_, seconds, 0, XCB_BLANKING_PREFERRED, XCB_EXPOSURES_ALLOWED)));
    }
    bool active() {
        const auto info = query();
        return info && info->state == XCB_SCREENSAVER_STATE_ON;
    }
    // How long the server has gone without input, by its own clock.
    std::chrono::milliseconds idle() {
        const auto info = query();
        return std::chrono::milliseconds(info ? info->ms_since_user_input : 0);
    }

private:
    std::unique_ptr<xcb_screensaver_query_info_reply_t, decltype(&std::free)> query() {
        return {xcb_screensaver_query_info_reply(c_, xcb_screensaver_query_info(c_, root_), nullptr), &std::free};
    }
    xcb_connection_t* c_;
    xcb_window_t root_;
};

} // namespace

TEST(LinuxPowerAssertions, HoldsLogindsIdleAndSleepInhibitorUntilTheAgentLetsGo) {
    qtApp();
    SessionBus bus;
    if (!bus.available()) GTEST_SKIP() << bus.reason();
    LogCapture log;
    FakeLogind logind;
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "fake-logind");
    ASSERT_TRUE(service.registerService("org.freedesktop.login1"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/login1", &logind, QDBusConnection::ExportAllSlots));
    {
        agent::LinuxPowerAssertions power({QString::fromStdString(bus.address()), "/nonexistent-display", 3000});
        std::atomic<int> wakes{0};
        power.setOnWake([&] { ++wakes; });
        power.hold();
        ASSERT_TRUE(waitUntil([&] { return !logind.inhibits.isEmpty() && power.sleepInhibited(); }));
        EXPECT_EQ(logind.inhibits.front(),
                  (QStringList{"idle:sleep", "DOVRELÆ", "DOVRELÆ remote access - stay reachable", "block"}));
        EXPECT_FALSE(logind.released()) << "held while the agent runs";
        EXPECT_TRUE(log.has("⚠︎ could not keep the display awake — no X display to reach"));

        // Going to sleep is nothing to act on; having woken is.
        for (bool sleeping : {true, false}) {
            QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1",
                                                             "org.freedesktop.login1.Manager", "PrepareForSleep");
            signal << sleeping;
            ASSERT_TRUE(service.send(signal));
        }
        ASSERT_TRUE(waitUntil([&] { return wakes.load() == 1; }));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(wakes.load(), 1);

        power.setOnWake(nullptr);
        QDBusMessage again =
            QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
        again << false;
        service.send(again);
        waitUntil([] { return false; }, 200ms);
        EXPECT_EQ(wakes.load(), 1) << "a cleared callback is not called";
    }
    EXPECT_TRUE(waitUntil([&] { return logind.released(); })) << "the inhibitor ends with the agent";
    EXPECT_EQ(logind.inhibits.size(), 1);
    service.unregisterService("org.freedesktop.login1");
    QDBusConnection::disconnectFromBus("fake-logind");
}

TEST(LinuxPowerAssertions, WithoutLogindItSaysSoAndGoesOn) {
    qtApp();
    LogCapture log;
    agent::LinuxPowerAssertions power({noBus, "/nonexistent-display", 3000});
    power.hold();
    power.waitIdle();
    EXPECT_FALSE(power.sleepInhibited());
    EXPECT_TRUE(log.has("⚠︎ could not keep this computer from sleeping — no system bus"));
}

TEST(LinuxPowerAssertions, TheScreensaverStaysOffWhileHeldAndComesBackInRestMode) {
    qtApp();
    XvfbServer xvfb(640, 480);
    if (!xvfb.available()) GTEST_SKIP() << xvfb.failure();
    ASSERT_TRUE(xvfb.running()) << xvfb.failure();
    LogCapture log;
    ScreenSaverProbe probe(xvfb.display());
    probe.timeout(1);
    agent::LinuxPowerAssertions power({noBus, xvfb.display(), 3000});
    power.hold();
    power.waitIdle();
    EXPECT_TRUE(power.displayHeld());
    // Until the server itself has gone well past the time-out.
    const auto heldAt = probe.idle();
    ASSERT_TRUE(waitUntil([&] { return probe.idle() > heldAt + 1600ms; }, 10s));
    EXPECT_FALSE(probe.active()) << "suspended: the display does not blank";

    power.restDisplay();
    power.waitIdle();
    EXPECT_FALSE(power.displayHeld());
    EXPECT_TRUE(log.has("⚠︎ could not turn the display off — the X server has no DPMS"));
    EXPECT_TRUE(waitUntil([&] { return probe.active(); }, 3000ms)) << "resting: the display may blank again";

    power.wakeDisplay();
    power.waitIdle();
    EXPECT_TRUE(power.displayHeld());
    EXPECT_FALSE(probe.active()) << "leaving rest counts as user activity";
    ASSERT_TRUE(waitUntil([&] { return probe.idle() > 1600ms; }, 10s));
    EXPECT_FALSE(probe.active());
}

#include "power_assertions_test.moc"
