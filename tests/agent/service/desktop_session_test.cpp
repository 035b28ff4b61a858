// Desktop actions against a private session bus: the lock is really taken before the display goes off,
// and nothing the desktop does can hold up the caller.

#include <atomic>
#include <chrono>
#include <filesystem>

#include <QDBusConnection>
#include <QObject>

#include <gtest/gtest.h>

#include "../../support/SessionBus.h"
#include "AgentTestSupport.h"
#include "agent/core/DesktopSession.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

// Stands in for the desktop's screensaver service on the private bus; answers on the test thread.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::atomic<int> locks = 0;
    std::atomic<int>* order = nullptr;
    int lockedAt = -1;

public slots:
    void Lock() {
        lockedAt = (*order)++;
        ++locks;
    }
};

const QString noSystemBus = QStringLiteral("unix:path=/nonexistent/dovrel-test-system-bus");

} // namespace

TEST(LinuxDesktopSession, LocksThroughTheScreensaverBeforeTurningTheDisplayOff) {
    qtApp();
    SessionBus bus;
    if (!bus.available()) GTEST_SKIP() << bus.reason();
    LogCapture log;
    std::atomic<int> order = 0;
    FakeScreenSaver saver;
    saver.order = &order;
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "fake-screensaver");
    ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/ScreenSaver", &saver, QDBusConnection::ExportAllSlots));

    std::atomic<int> displayOffAt = -1;
    agent::LinuxDesktopOptions o;
    o.systemBusAddress = noSystemBus; // no logind here: the screensaver is the way
    o.sessionBusAddress = QString::fromStdString(bus.address());
    o.turnDisplayOff = [&](std::string&) {
        displayOffAt = order++;
        return true;
    };
    {
        const auto desktop = agent::makeLinuxDesktopSession(o);
        const auto start = std::chrono::steady_clock::now();
        desktop->lockAndTurnDisplayOff();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms) << "the caller never waits";
        ASSERT_TRUE(waitUntil([&] { return displayOffAt >= 0; }, 5000ms));
    }
    EXPECT_EQ(saver.locks, 1);
    EXPECT_EQ(saver.lockedAt, 0);
    EXPECT_EQ(displayOffAt, 1);
    EXPECT_FALSE(log.has("could not lock"));
    service.unregisterService("org.freedesktop.ScreenSaver");
    QDBusConnection::disconnectFromBus("fake-screensaver");
}

TEST(LinuxDesktopSession, WhenNothingCanLockItSaysSoAndStillTurnsTheDisplayOff) {
    qtApp();
    SessionBus bus;
    if (!bus.available()) GTEST_SKIP() << bus.reason();
    LogCapture log;
    std::atomic<bool> off = false;
    agent::LinuxDesktopOptions o;
    o.systemBusAddress = noSystemBus;
    o.sessionBusAddress = QString::fromStdString(bus.address());
    o.turnDisplayOff = [&](std::string& why) {
        off = true;
        why = "test display";
        return false;
    };
    const auto desktop = agent::makeLinuxDesktopSession(o);
    desktop->lockAndTurnDisplayOff();
    ASSERT_TRUE(log.waitFor("⚠︎ could not turn the display off — test display", 5000ms));
    EXPECT_TRUE(off);
    EXPECT_TRUE(log.has("⚠︎ could not lock the session — neither logind nor a screensaver service would lock it; "
                        "turning the display off anyway"));
}

TEST(LinuxDesktopSession, TheLauncherFallbackRunsOnItsOwnAndBlocksNothing) {
    qtApp();
    SessionBus bus;
    if (!bus.available()) GTEST_SKIP() << bus.reason();
    LogCapture log;
    TempDir dir;
    const std::string marker = dir.file("opened");
    std::atomic<bool> off = false;
    agent::LinuxDesktopOptions o;
    o.systemBusAddress = noSystemBus;
    o.sessionBusAddress = QString::fromStdString(bus.address());
    o.turnDisplayOff = [&](std::string&) { return off = true; };
    // A folder opener that takes its time: neither the caller nor the next action waits for it.
    o.folderOpener = "sh";
    o.folderArguments = {"-c", QString::fromStdString("sleep 2; touch " + marker)};
    const auto desktop = agent::makeLinuxDesktopSession(o);
    const auto start = std::chrono::steady_clock::now();
    desktop->showLauncher();
    desktop->lockAndTurnDisplayOff();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);
    ASSERT_TRUE(waitUntil([&] { return off.load(); }, 1500ms)) << "the lock after it was held up";
    EXPECT_TRUE(log.has("• no app grid on this desktop — opened the file manager instead"));
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(marker); }, 5000ms));
}

TEST(LinuxDesktopSession, WithoutAWindowOverviewItSaysSo) {
    qtApp();
    SessionBus bus;
    if (!bus.available()) GTEST_SKIP() << bus.reason();
    LogCapture log;
    agent::LinuxDesktopOptions o;
    o.systemBusAddress = noSystemBus;
    o.sessionBusAddress = QString::fromStdString(bus.address()); // neither GNOME Shell nor KWin here
    const auto desktop = agent::makeLinuxDesktopSession(o);
    desktop->showWindowOverview();
    EXPECT_TRUE(log.waitFor("• no window overview on this desktop — nothing shown", 5000ms));
}

#include "desktop_session_test.moc"
