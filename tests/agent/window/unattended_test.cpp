// The unattended-access checks against a temporary root (display-manager, logind and power-supply
// files) and fake tools first on PATH (findmnt, lsblk, systemctl, gsettings, ipmitool); their answers
// published whole and newest-first; and the section's rows and badge on the real QML.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QKeyEvent>
#include <QRegularExpression>

#include "../../support/ChildProcess.h"
#include "../../support/FakeScheduler.h"
#include "../../support/Unseen.h"
#include "../shell/ShellTestSupport.h"
#include "WindowTestSupport.h"
#include "agent/shell/UnattendedChecks.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

// A root of files and a folder of tools that stand in for this computer's.
struct FakeComputer {
    FakeSystemctl supervisorTool; // the supervisor's "systemctl --user"
    std::string supervisorSystemctl = findProgram("systemctl");
    TempDir root;
    std::string oldPath = std::getenv("PATH");

    FakeComputer() {
        ::setenv("PATH", (root.file("bin") + ":" + oldPath).c_str(), 1);
        // A desktop on an unencrypted disk that sleeps, without auto-login, battery or BMC.
        tool("findmnt", "echo /dev/sda2");
        tool("lsblk", "printf 'part\\ndisk\\n'");
        tool("systemctl", "printf 'static\\nstatic\\nstatic\\nstatic\\n'; exit 1");
        tool("gsettings", "echo \"'suspend'\"");
        tool("ipmitool", "echo 'Could not open device' >&2; exit 1");
    }
    ~FakeComputer() { ::setenv("PATH", oldPath.c_str(), 1); }

    void tool(const std::string& name, const std::string& body) {
        const std::string path = root.file("bin/" + name);
        writeFile(path, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(path, std::filesystem::perms(0755));
    }
    void file(const std::string& path, const std::string& text) { writeFile(root.file(path.substr(1)), text); }
    agent::Readiness check(std::chrono::milliseconds timeout = 5000ms) {
        agent::Supervisor::Options o;
        o.systemctl = supervisorSystemctl;
        agent::Supervisor supervisor(o);
        return agent::checkReadiness({root.str(), timeout, "ana"}, supervisor);
    }
};

} // namespace

TEST(UnattendedChecks, AutoLoginFromEachDisplayManager) {
    TempDir root;
    const auto at = [&](const std::string& path, const std::string& text) { writeFile(root.file(path), text); };
    EXPECT_EQ(agent::autoLoginUser(root.str()), "");
    at("etc/gdm3/daemon.conf", "[daemon]\n# AutomaticLoginEnable = true\nAutomaticLogin = ana\n");
    EXPECT_EQ(agent::autoLoginUser(root.str()), "") << "a login name without the switch does nothing";
    at("etc/gdm3/daemon.conf", "[daemon]\nAutomaticLoginEnable = True\nAutomaticLogin = ana\n[security]\n");
    EXPECT_EQ(agent::autoLoginUser(root.str()), "ana");

    at("etc/X11/default-display-manager", "/usr/sbin/lightdm\n");
    EXPECT_EQ(agent::autoLoginUser(root.str()), "") << "only the active display manager counts";
    at("etc/lightdm/lightdm.conf", "[Seat:*]\nautologin-user=ana\n");
    at("etc/lightdm/lightdm.conf.d/50-kiosk.conf", "[SeatDefaults]\nautologin-user=\n[Seat:*]\nautologin-user=kiosk\n");
    EXPECT_EQ(agent::autoLoginUser(root.str()), "kiosk") << "a conf.d file overrides the main file";

    at("etc/X11/default-display-manager", "/usr/bin/sddm\n");
    at("etc/sddm.conf.d/autologin.conf", "[Autologin]\nUser=bo\nSession=plasma\n");
    EXPECT_EQ(agent::autoLoginUser(root.str()), "bo");
}

TEST(UnattendedChecks, ParsersOfTheToolsAnswers) {
    EXPECT_TRUE(agent::listsEncryptedDevice("crypt\npart\ndisk\n"));
    EXPECT_TRUE(agent::listsEncryptedDevice("lvm\ncrypt\npart\ndisk\n"));
    EXPECT_FALSE(agent::listsEncryptedDevice("part\ndisk\n"));
    EXPECT_TRUE(agent::sleepTargetsMasked("masked\nmasked\nmasked\nmasked\n"));
    EXPECT_FALSE(agent::sleepTargetsMasked("masked\nmasked\nmasked\n"));
    EXPECT_FALSE(agent::sleepTargetsMasked("masked\nstatic\nmasked\nmasked\n"));
    EXPECT_FALSE(agent::sleepTargetsMasked(""));
    EXPECT_TRUE(agent::gnomeNeverSleepsOnMains("'nothing'\n"));
    EXPECT_FALSE(agent::gnomeNeverSleepsOnMains("'suspend'\n"));
    EXPECT_FALSE(agent::gnomeNeverSleepsOnMains(""));
    EXPECT_EQ(agent::powerRestorePolicy("System Power         : on\nPower Restore Policy : always-off\n"),
              "always-off");
    EXPECT_EQ(agent::powerRestorePolicy("System Power : on\n"), std::nullopt);

    TempDir root;
    EXPECT_TRUE(agent::logindIdleIgnored(root.str())) << "logind's default";
    writeFile(root.file("etc/systemd/logind.conf"), "[Login]\nIdleAction=suspend\n");
    EXPECT_FALSE(agent::logindIdleIgnored(root.str()));
    writeFile(root.file("etc/systemd/logind.conf.d/10-awake.conf"), "[Login]\nIdleAction=ignore\n");
    EXPECT_TRUE(agent::logindIdleIgnored(root.str()));

    EXPECT_FALSE(agent::hasSystemBattery(root.str()));
    writeFile(root.file("sys/class/power_supply/hidpp_battery_0/type"), "Battery\n");
    writeFile(root.file("sys/class/power_supply/hidpp_battery_0/scope"), "Device\n");
    EXPECT_FALSE(agent::hasSystemBattery(root.str())) << "a mouse's battery";
    writeFile(root.file("sys/class/power_supply/BAT0/type"), "Battery\n");
    EXPECT_TRUE(agent::hasSystemBattery(root.str()));
}

TEST(UnattendedChecks, ADesktopThatSleepsWithoutAutoLoginOrBmcIsNotReady) {
    FakeComputer pc;
    const agent::Readiness r = pc.check();
    EXPECT_FALSE(r.autoLogin);
    EXPECT_TRUE(r.diskEncryptionOff);
    EXPECT_FALSE(r.noSleep);
    EXPECT_FALSE(r.restartAfterPower);
    EXPECT_EQ(r.powerRestore, agent::Readiness::PowerRestore::unknown);
    EXPECT_FALSE(r.supervised);
    EXPECT_FALSE(r.supervisorSentence.empty());
    EXPECT_EQ(r.doneCount(), 1) << "a firmware setting nobody can read here is advice, not a failure";
}

TEST(UnattendedChecks, AMachineSetUpForALockedRoomIsReady) {
    FakeComputer pc;
    pc.supervisorTool.set("is-enabled", "enabled");
    pc.file("/etc/gdm3/daemon.conf", "[daemon]\nAutomaticLoginEnable=true\nAutomaticLogin=ana\n");
    pc.tool("lsblk", "printf 'crypt\\npart\\ndisk\\n'");
    pc.tool("systemctl", "printf 'masked\\nmasked\\nmasked\\nmasked\\n'; exit 1");
    pc.tool("ipmitool", "printf 'System Power : on\\nPower Restore Policy : always-on\\n'");
    const agent::Readiness r = pc.check();
    EXPECT_EQ(r.autoLoginUser, "ana");
    EXPECT_FALSE(r.diskEncryptionOff);
    EXPECT_TRUE(r.noSleep);
    EXPECT_EQ(r.powerPolicy, "always-on");
    EXPECT_TRUE(r.supervised);
    EXPECT_TRUE(r.ready()) << "encryption does not count";

    // Logged in at start-up is only worth something for the user the agent runs as; an unreadable
    // firmware setting does not stand in the way, a known "always-off" does.
    pc.file("/etc/gdm3/daemon.conf", "[daemon]\nAutomaticLoginEnable=true\nAutomaticLogin=kiosk\n");
    pc.tool("ipmitool", "exit 1");
    const agent::Readiness other = pc.check();
    EXPECT_EQ(other.autoLoginUser, "kiosk");
    EXPECT_FALSE(other.autoLogin);
    EXPECT_EQ(other.doneCount(), 3);
    pc.file("/etc/gdm3/daemon.conf", "[daemon]\nAutomaticLoginEnable=true\nAutomaticLogin=ana\n");
    EXPECT_TRUE(pc.check().ready());
    pc.tool("ipmitool", "printf 'Power Restore Policy : always-off\\n'");
    EXPECT_FALSE(pc.check().ready());

    // GNOME's idle sleep off with logind idle ignored also keeps it awake.
    pc.tool("systemctl", "exit 1");
    pc.tool("gsettings", "echo \"'nothing'\"");
    EXPECT_TRUE(pc.check().noSleep);
    pc.file("/etc/systemd/logind.conf", "[Login]\nIdleAction=suspend\n");
    EXPECT_FALSE(pc.check().noSleep);
}

TEST(UnattendedChecks, ToolsThatFailHangOrPrintNothingNeverCountAsReady) {
    FakeComputer pc;
    pc.tool("findmnt", "exit 0");
    pc.tool("ipmitool", "cat; echo 'Power Restore Policy : always-on'"); // reads standard input to its end
    pc.tool("gsettings", "sleep 30; echo \"'nothing'\"");
    const auto started = std::chrono::steady_clock::now();
    const agent::Readiness r = pc.check(300ms);
    EXPECT_FALSE(r.diskEncryptionOff) << "no root device: unknown, not off";
    EXPECT_FALSE(r.noSleep) << "gsettings was killed";
    EXPECT_TRUE(r.restartAfterPower) << "standard input is closed, so the tool ends";
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);

    pc.tool("lsblk", "exit 3");
    pc.tool("findmnt", "echo /dev/sda2");
    pc.tool("gsettings", "exit 1");
    EXPECT_FALSE(pc.check().diskEncryptionOff);
    writeFile(pc.root.file("sys/class/power_supply/BAT0/type"), "Battery\n");
    EXPECT_EQ(pc.check().powerRestore, agent::Readiness::PowerRestore::battery);
}

TEST(UnattendedChecker, AnswersPublishWholeAndAnOlderRunNeverOverwritesANewerOne) {
    guiApp();
    FakeClipboard clipboard;
    FakeLauncher launcher;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> runs{0};
    agent::UnattendedChecker checker(
        [&] {
            agent::Readiness r;
            if (++runs == 1) { // the first run is slow and stale
                std::unique_lock lock(mutex);
                released.wait(lock, [&] { return release; });
                return r;
            }
            r.autoLogin = r.noSleep = r.restartAfterPower = r.supervised = true;
            return r;
        },
        "ana", launcher, clipboard);
    EXPECT_EQ(checker.badge(), "0/4");
    EXPECT_TRUE(checker.lastChecked().isEmpty());
    int published = 0;
    QObject::connect(&checker, &agent::UnattendedChecker::changed, [&] { ++published; });
    checker.refresh();
    ASSERT_TRUE(waitFor([&] { return runs == 1; }));
    checker.refresh();
    ASSERT_TRUE(waitFor([&] { return checker.ready(); }));
    EXPECT_EQ(published, 1) << "every field in one step";
    EXPECT_EQ(checker.badge(), "Ready");
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d$").match(checker.lastChecked()).hasMatch());
    {
        const std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    checker.waitForChecks();
    QCoreApplication::processEvents();
    EXPECT_TRUE(checker.ready());
    EXPECT_EQ(published, 1);
}

TEST(UnattendedSection, RowsBadgeCommandsAndFooterOnTheWindow) {
    guiApp();
    TestWindow w(std::nullopt);
    FakeReadiness& readiness = w.readiness;
    agent::AgentWindowModel& vm = *w.vm;
    readiness.launcher.installed = {"gnome-control-center"};
    auto view = w.load();
    const auto text = [&](const char* name) { return withoutJoiners(item(*view, name)->property("text").toString()); };
    const auto shown = [&](const char* name) {
        QQuickItem* i = item(*view, name);
        return i && i->isVisible();
    };
    // Before the first check every answer is "no".
    EXPECT_EQ(text("readinessBadge"), "0/4");
    EXPECT_FALSE(shown("lastChecked"));
    EXPECT_EQ(item(*view, "encryptionRowMark")->property("name").toString(), "check.circle");
    EXPECT_TRUE(text("encryptionRowDetail").endsWith("Not one of the four the badge counts."));
    EXPECT_TRUE(shown("sleepRowCommand0"));
    EXPECT_EQ(text("sleepRowCommand0Text"), agent::UnattendedChecker::maskCommand);
    EXPECT_EQ(text("sleepRowCommand1Text"), agent::UnattendedChecker::gnomeCommand);
    EXPECT_TRUE(shown("sleepRowOpen"));
    EXPECT_FALSE(shown("powerRowOpen")) << "no panel for the firmware";
    EXPECT_FALSE(shown("powerRowCommand0")) << "no command reads an unreadable firmware setting";
    EXPECT_FALSE(shown("encryptionRowCommand0"));
    // A warning with neither a panel nor a fixing command still offers something: a command that says
    // why, or the words of what to do.
    EXPECT_EQ(text("supervisedRowCommand0Text"), agent::UnattendedChecker::statusCommand);
    EXPECT_TRUE(text("powerRowDetail").contains("BIOS/UEFI"));

    readiness.answers.supervised = true;
    readiness.answers.autoLoginUser = "kiosk";
    readiness.answers.powerRestore = agent::Readiness::PowerRestore::staysOff;
    readiness.answers.powerPolicy = "always-off";
    readiness.answers.diskEncryptionOff = true;
    vm.windowShown();
    readiness.checker.waitForChecks();
    ASSERT_TRUE(waitFor([&] { return shown("lastChecked"); }));
    EXPECT_EQ(text("readinessBadge"), "1/4");
    EXPECT_TRUE(text("autoLoginRowDetail").contains("kiosk, not ana"));
    EXPECT_EQ(item(*view, "autoLoginRowMark")->property("name").toString(), "warning");
    EXPECT_EQ(text("powerRowCommand0Text"), agent::UnattendedChecker::policyCommand);
    EXPECT_EQ(item(*view, "encryptionRowMark")->property("name").toString(), "warning");
    EXPECT_TRUE(text("encryptionRowDetail").contains("reinstalling")) << "not the words for a disk that is";
    EXPECT_FALSE(shown("supervisedRowCommand0"));
    QMetaObject::invokeMethod(item(*view, "sleepRowCommand1Copy"), "clicked");
    EXPECT_EQ(readiness.clipboard.texts, QStringList{agent::UnattendedChecker::gnomeCommand});
    QMetaObject::invokeMethod(item(*view, "sleepRowOpen"), "clicked");
    EXPECT_EQ(readiness.launcher.opened, QStringList{"gnome-control-center power"});

    // A firmware setting that cannot be read shows as advice and does not keep the badge from "Ready".
    readiness.answers.noSleep = readiness.answers.autoLogin = true;
    readiness.answers.autoLoginUser = "ana";
    readiness.answers.powerRestore = agent::Readiness::PowerRestore::unknown;
    QMetaObject::invokeMethod(item(*view, "recheck"), "clicked");
    readiness.checker.waitForChecks();
    ASSERT_TRUE(waitFor([&] { return text("readinessBadge") == "Ready"; }));
    // The longer badge leaves the title less room: the title wraps, and the badge stays on the card,
    // level with the title's first line.
    view->show();
    view->grabWindow();
    for (const char* name : {"readinessBadge", "readinessDot", "readinessTitle"})
        for (const std::string& why : unseen(item(*view, name), {}, item(*view, "unattended")))
            ADD_FAILURE() << why;
    QQuickItem* title = item(*view, "readinessTitle");
    QQuickItem* badge = item(*view, "readinessBadge");
    const qreal firstLine = title->property("implicitHeight").toReal() / title->property("lineCount").toInt();
    EXPECT_NEAR(badge->mapToScene(QPointF(0, badge->height() / 2)).y(),
                title->mapToScene(QPointF(0, firstLine / 2)).y(), 1.5);
    EXPECT_EQ(item(*view, "powerRowMark")->property("name").toString(), "info");
    EXPECT_TRUE(text("powerRowDetail").contains("BIOS/UEFI"));
    EXPECT_FALSE(shown("sleepRowCommand0"));
    EXPECT_FALSE(shown("sleepRowOpen"));
}

// At the window's width every command reads in whole words: a line starts only after a space, or
// with the dot of a name too long for any line; no line runs past the copy button; and Ctrl+C on a
// selection copies the command's own characters.
TEST(UnattendedSection, CommandsBreakOnlyBetweenWordsAndCopyAsTheyRead) {
    guiApp();
    TestWindow w(std::nullopt); // before the first check: every condition missing, with its commands
    auto view = w.load(true);
    view->show();
    view->grabWindow();
    const std::pair<const char*, const char*> lines[] = {
        {"sleepRowCommand0Text", agent::UnattendedChecker::maskCommand},
        {"sleepRowCommand1Text", agent::UnattendedChecker::gnomeCommand},
        {"supervisedRowCommand0Text", agent::UnattendedChecker::statusCommand}};
    for (const auto& [name, command] : lines) {
        QQuickItem* text = item(*view, name);
        ASSERT_NE(text, nullptr) << name;
        const QString shown = text->property("text").toString();
        EXPECT_EQ(withoutJoiners(shown), command);
        EXPECT_LE(text->property("contentWidth").toReal(), text->width()) << name;
        qreal lineTop = -1;
        for (int i = 0; i < shown.size(); ++i) {
            QRectF at;
            QMetaObject::invokeMethod(text, "positionToRectangle", Q_RETURN_ARG(QRectF, at), Q_ARG(int, i));
            if (i > 0 && at.top() > lineTop + 1) {
                EXPECT_TRUE(shown[i - 1] == ' ' || (shown[i - 1] == QChar(0x200B) && shown[i] == '.'))
                    << name << ": a line starts inside \"" << qPrintable(withoutJoiners(shown.mid(i))) << "\"";
            }
            lineTop = at.top();
        }
    }

    QQuickItem* text = item(*view, "sleepRowCommand0Text");
    QMetaObject::invokeMethod(text, "selectAll");
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    QCoreApplication::sendEvent(text, &copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), agent::UnattendedChecker::maskCommand);
}
