// Desktop actions against a private session bus: the lock is really taken before the display goes off,
// and nothing the desktop does can hold up the caller.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
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
    bool GetActive() { return locks > 0; }
};

// GNOME Shell without an app grid to show, answering on the test thread.
class FakeShell : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell")
public slots:
    void ShowApplications() { sendErrorReply(QDBusError::NotSupported, QStringLiteral("no app grid")); }
};

// logind's manager on a private bus: every process is in session 1.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public slots:
    QDBusObjectPath GetSessionByPID(uint) { return QDBusObjectPath("/org/freedesktop/login1/session/_31"); }
};

// Session 1. Lock only asks the screen locker: the session locks when one runs (`lockerRuns`), or
// when a locker command left its mark in `lockedByCommand`.
class FakeLoginSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool LockedHint READ lockedHint)
public:
    bool lockerRuns = false;
    bool locked = false;
    int locks = 0;
    std::string lockedByCommand;
    bool lockedHint() const { return locked || std::filesystem::exists(lockedByCommand); }
public slots:
    void Lock() {
        ++locks;
        if (lockerRuns) locked = true;
    }
};

const QString noSystemBus = QStringLiteral("unix:path=/nonexistent/dovrel-test-system-bus");
const std::string notLockedWords = "The screen wasn't locked — no screen locker is running on that computer.";

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
    o.lockCommands = std::vector<QStringList>{};
    {
        const auto desktop = agent::makeLinuxDesktopSession(o);
        desktop->lockAndTurnDisplayOff({});
        // The screensaver answers on this thread only: had the caller waited for the lock, the display
        // would be off already.
        EXPECT_EQ(displayOffAt, -1) << "the caller never waits";
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
    o.lockCommands = std::vector<QStringList>{};
    std::atomic<int> told = 0;
    const auto desktop = agent::makeLinuxDesktopSession(o);
    desktop->lockAndTurnDisplayOff([&](const std::string& why) {
        EXPECT_EQ(why, notLockedWords);
        ++told;
    });
    ASSERT_TRUE(log.waitFor("⚠︎ could not turn the display off — test display", 5000ms));
    EXPECT_TRUE(off);
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(log.has("⚠︎ could not lock the session — neither logind nor a screensaver service would lock it; "
                        "turning the display off anyway"));
}

TEST(LinuxDesktopSession, ALockCountsOnlyWhenTheSessionReallyLockedAndFallsBackToTheDesktopsLocker) {
    qtApp();
    SessionBus system; // stands in for the system bus, with logind on it
    SessionBus bus;
    if (!system.available() || !bus.available()) GTEST_SKIP() << system.reason() << bus.reason();
    LogCapture log;
    TempDir dir;
    FakeLogind logind;
    FakeLoginSession session;
    session.lockedByCommand = dir.file("locked-by-command");
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromStdString(system.address()), "fake-logind");
    ASSERT_TRUE(service.registerService("org.freedesktop.login1"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/login1", &logind, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/login1/session/_31", &session,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    // The desktop's own locker: a command that locks the session when run.
    const std::string locker = dir.file("fake-locker");
    writeFile(locker, "#!/bin/sh\ntouch '" + session.lockedByCommand + "'\n");
    std::filesystem::permissions(locker, std::filesystem::perms(0755));

    std::atomic<int> displayOff = 0;
    std::atomic<int> told = 0;
    agent::LinuxDesktopOptions o;
    o.systemBusAddress = QString::fromStdString(system.address());
    o.sessionBusAddress = QString::fromStdString(bus.address()); // no screensaver service on it
    o.turnDisplayOff = [&](std::string&) { return ++displayOff, true; };
    o.lockConfirmWithin = 300ms;
    const auto lockOnce = [&](const std::vector<QStringList>& commands) {
        o.lockCommands = commands;
        const auto desktop = agent::makeLinuxDesktopSession(o);
        const int before = displayOff;
        desktop->lockAndTurnDisplayOff([&](const std::string& why) {
            EXPECT_EQ(why, notLockedWords);
            ++told;
        });
        EXPECT_TRUE(waitUntil([&] { return displayOff > before; }, 10000ms));
    };

    // A screen locker runs: logind's request locks the session, and that is all.
    session.lockerRuns = true;
    lockOnce({{QString::fromStdString(locker)}});
    EXPECT_EQ(session.locks, 1);
    EXPECT_FALSE(std::filesystem::exists(session.lockedByCommand)) << "no fallback was needed";
    EXPECT_EQ(told, 0);

    // None runs: logind says yes but nothing locks; the desktop's locker command does it.
    session.lockerRuns = session.locked = false;
    lockOnce({{"dovrel-no-such-locker", "--lock"}, {QString::fromStdString(locker)}});
    EXPECT_EQ(session.locks, 2);
    EXPECT_TRUE(std::filesystem::exists(session.lockedByCommand));
    EXPECT_TRUE(log.has("• the session locked through " + locker + " — logind had locked nothing"));
    EXPECT_EQ(told, 0);

    // Nothing at all locks: the controller is told, and the log says what was tried.
    std::filesystem::remove(session.lockedByCommand);
    lockOnce({});
    EXPECT_EQ(session.locks, 3);
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(
        log.has("⚠︎ could not lock the session — asked logind, but nothing locked within 0.3 s — no screen "
                "locker seems to run; turning the display off anyway"));
    EXPECT_EQ(displayOff, 3) << "the display goes off all the same";
    service.unregisterService("org.freedesktop.login1");
    QDBusConnection::disconnectFromBus("fake-logind");
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
    // A folder opener that runs until the test lets it end (or the test's folder goes): neither the
    // caller nor the next action waits for it, or neither would get past it.
    const std::string release = dir.file("release");
    o.folderOpener = "sh";
    o.folderArguments = {"-c", QString::fromStdString("while [ -d '" + dir.str() + "' ] && [ ! -e '" + release +
                                                      "' ]; do sleep 0.05; done; touch '" + marker + "'")};
    o.lockCommands = std::vector<QStringList>{};
    FakeShell shell;
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "fake-shell");
    ASSERT_TRUE(service.registerService("org.gnome.Shell"));
    ASSERT_TRUE(service.registerObject("/org/gnome/Shell", &shell, QDBusConnection::ExportAllSlots));
    const auto desktop = agent::makeLinuxDesktopSession(o);
    desktop->showLauncher();
    desktop->lockAndTurnDisplayOff({});
    // The shell answers on this thread only: had the caller waited for the launcher, or for the lock
    // after it, the file manager would have been opened already.
    EXPECT_FALSE(log.has("opened the file manager instead")) << "the caller never waits";
    EXPECT_FALSE(off.load()) << "the caller never waits";
    ASSERT_TRUE(waitUntil([&] { return off.load(); }, 5000ms)) << "the lock after it was held up";
    EXPECT_TRUE(log.has("• no app grid on this desktop — opened the file manager instead"));
    EXPECT_FALSE(std::filesystem::exists(marker));
    std::ofstream(release).put('\n');
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(marker); }, 5000ms));
    service.unregisterService("org.gnome.Shell");
    QDBusConnection::disconnectFromBus("fake-shell");
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
