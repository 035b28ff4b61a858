// DovrelAgent: the program on the computer that is to be reached. Sets up its log and crash handlers,
// reports crashes of earlier runs, makes sure it is the one copy for this user (or hands over to its
// supervisor), checks its own health, then creates the agent in a Qt application and runs it; a
// failure of the core ends the process with status 70 so that its supervisor starts a fresh one.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QPalette>

#include "agent/common/AgentLog.h"
#include "agent/common/ConfigDirectory.h"
#include "agent/common/FatalExit.h"
#include "agent/common/HomeDirectory.h"
#include "agent/net/PrimaryInterface.h"
#include "agent/shell/AgentGraph.h"
#include "agent/shell/AgentWindow.h"
#include "agent/shell/AppDelegate.h"
#include "agent/shell/AppModel.h"
#include "agent/shell/CommandSelection.h"
#include "agent/shell/CrashReports.h"
#include "agent/shell/DesktopBackend.h"
#include "agent/shell/LinuxSampler.h"
#include "agent/shell/SelfCheck.h"
#include "agent/shell/ShowWindowChannel.h"
#include "agent/shell/SingleInstance.h"
#include "agent/shell/Supervisor.h"
#include "agent/shell/TrayItem.h"
#include "brand/InterfaceFont.h"
#include "runtime/StopSignal.h"
#include "runtime/session/SessionEnd.h"
#include "runtime/tls/TlsLibrary.h"

using namespace dovrel;
using namespace dovrel::agent;

namespace {

// DOVREL_CONTROL_PORT, DOVREL_INPUT_PORT and DOVREL_VIDEO_PORT move the local-network ports (0 lets the
// system choose the listeners'), so that tests and a second agent on one machine do not collide.
uint16_t portFromEnvironment(const char* name, uint16_t fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > 65535) exitFatally(std::string(name) + " is not a port: " + text);
    return static_cast<uint16_t>(value);
}

// The face: tray item and window, or only the delegate's upkeep when there is no display. Runs the event
// loop and returns its status; everything made here is gone when it returns, in the reverse order of
// its making (the delegate, the window, the tray item, the window's model).
int runFace(QCoreApplication& app, AgentGraph& graph, const DesktopBackend& backend, bool haveDisplay) {
    Agent& agent = graph.agent();
    AppModel& model = graph.model();
    QtTextClipboard clipboard;
    std::optional<CommandSelection> commandSelection;
    if (haveDisplay) commandSelection.emplace(*QGuiApplication::clipboard());
    DetachedSettingsLauncher launcher;
    WindowSettings windowSettings;
    // As the agent read relay.json when it started, not a fresh, unread configuration.
    windowSettings.lanEnabled = agent.lanEnabled();
    windowSettings.facts = {QString::fromLocal8Bit(qgetenv("DISPLAY")),
                            QString::fromLocal8Bit(qgetenv("XDG_SESSION_TYPE")),
                            QString::fromStdString(systemDefaultRouteInterface().value_or("")), backend.kind,
                            QString::fromStdString(backend.desktopName)};
    const passwd* me = ::getpwuid(::getuid());
    ReadinessEnvironment readinessEnvironment;
    readinessEnvironment.user = me ? me->pw_name : "";
    UnattendedChecker readiness(
        [readinessEnvironment] { return checkReadiness(readinessEnvironment, Supervisor::forThisProcess()); },
        QString::fromStdString(readinessEnvironment.user), launcher, clipboard);
    AgentWindowModel windowModel(model, readiness, dovrel::realScheduler(), clipboard, launcher, windowSettings);
    windowModel.setDark(haveDisplay && QGuiApplication::palette().window().color().lightness() < 128);
    // Quit takes the agent down in order, like a stop signal; status 0 tells the supervisor not to start
    // it again before the next login.
    QObject::connect(&windowModel, &AgentWindowModel::quitRequested, &app, [&app] {
        print("• Quit chosen in the window — stopping until the next login");
        app.quit();
    });
    const bool trayShown = haveDisplay && TrayItem::trayAvailable();
    std::unique_ptr<TrayItem> tray;
    if (trayShown) tray = std::make_unique<TrayItem>();
    AgentWindow window(windowModel, trayShown);
    DelegateActions actions;
    actions.refreshPairingURL = [&agent] { agent.refreshPairingURL(); };
    actions.selfCheck = [] {
        const Doctor::Report report = Doctor::examine(true);
        if (report.worst() != Doctor::Severity::ok) Doctor::log(report);
    };
    actions.wallClock = [] { return QDateTime::currentDateTimeUtc(); };
    AppDelegate delegate(model, dovrel::realScheduler(), graph.sampler(), window, std::move(actions));
    if (tray) {
        QObject::connect(tray.get(), &TrayItem::activated, &delegate, &AppDelegate::showWindow);
        tray->show();
        print("• tray item shown — its star opens the window");
    } else if (haveDisplay) {
        print("⚠︎ no system tray on this desktop — the window opens by itself and keeps a taskbar entry");
    } else {
        print("⚠︎ no X display — no tray item or window");
    }
    delegate.start(haveDisplay);
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    // Threads that spoke TLS may still be ending as the agent ends.
    leaveTlsLibraryToProcessEnd();
    // A stop while the agent is still being made waits for the event loop, and then stops it in order;
    // a start-up that hangs is cut short.
    StopSignalHold stopHeld;
    if (!::isatty(STDOUT_FILENO)) {
        const std::lock_guard guard(AgentLog::lock());
        AgentLog::rotate(AgentLog::path(), AgentLog::previousPath(), AgentLog::cap);
        AgentLog::openUnderLock();
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    CrashReports::installHandlers();
    CrashReports::sweep();

    // One copy per user. The arbiter lives as long as the process: it holds the lock.
    const std::string stateDirectory = homeDirectory() + "/.dovrel";
    const std::string showWindowSocket = showWindowSocketPath(stateDirectory);
    LaunchArbiter::Options arbiterOptions;
    arbiterOptions.stateDirectory = stateDirectory;
    arbiterOptions.showWindowSocket = showWindowSocket;
    static LaunchArbiter arbiter(Supervisor::forThisProcess(), arbiterOptions);
    // Of what a normal stop removes, only the show-window socket can be there before the loop turns
    // (half-received files would need a session, and the next start sweeps them).
    stopHeld.onCutShort([showWindowSocket](std::string_view what) {
        writeLogLineNow({"• ", what, " — stopping at once"});
        if (arbiter.ownsShowWindowSocket()) ::unlink(showWindowSocket.c_str());
    });
    if (arbiter.arbitrate() != LaunchArbiter::Decision::run) std::exit(0);

    Doctor::log(Doctor::examine(true));

    // The desktop decides how the screen is seen and input reaches it: GNOME's remote desktop on its
    // Wayland session, the X server elsewhere; without either the agent still serves sessions and files.
    DesktopEnvironment desktop = DesktopEnvironment::fromProcess();
    const char* display = std::getenv("DISPLAY");
    const bool haveDisplay = display && *display;
    if (haveDisplay) ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The tray item needs a QApplication; without a display there is neither tray nor window.
    std::unique_ptr<QCoreApplication> app =
        haveDisplay ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    if (haveDisplay) {
        QApplication::setQuitOnLastWindowClosed(false);
        dovrel::brand::useInterfaceFont();
    }
    QCoreApplication::setApplicationName("DovrelAgent");
    std::shared_ptr<MutterSession> gnome;
    if (desktop.wayland()) {
        gnome = std::make_shared<MutterSession>();
        desktop.gnomeRemoteDesktop = gnome->offered();
    }
    const DesktopBackend backend = chooseDesktopBackend(desktop);
    if (backend.kind != DesktopKind::gnomeWayland) gnome.reset();
    print(desktopBackendLine(backend));

    AgentGraphOptions options;
    options.settings.stateDirectory = homeDirectory() + "/.dovrel";
    options.settings.configDirectory = configDirectory();
    options.ports.control = portFromEnvironment("DOVREL_CONTROL_PORT", options.ports.control);
    options.ports.input = portFromEnvironment("DOVREL_INPUT_PORT", options.ports.input);
    options.ports.video = portFromEnvironment("DOVREL_VIDEO_PORT", options.ports.video);
    options.haveDisplay = haveDisplay;
    options.backend = backend;
    options.gnome = gnome;

    // A fatal failure ends the process by _exit with the agent still in place; a stop signal, Quit or the
    // end of the desktop session ends the event loop, and the agent is then taken down in order: the
    // session closed, unfinished files deleted, the listeners shut.
    AgentGraph graph(std::move(options));
    ShowWindowServer showWindow(arbiter.takeShowWindowListener());
    QObject::connect(&showWindow, &ShowWindowServer::requested, &graph.model(), &AppModel::showWindowRequested);
    const auto stopping = [](const std::string& what) {
        print("• " + what + " — stopping: closing the session and removing unfinished files");
    };
    const auto stopAgent = [&graph] {
        graph.stopAgent();
        print("• agent stopped");
    };
    StopSignal stopSignal([&app, &stopping](const char* name) {
        stopping(name);
        app->quit();
    });
    try {
        graph.run();
    } catch (const std::exception& e) {
        exitFatally(e.what());
    }
    // The end of the desktop session is an ordinary stop too.
    SessionEnd sessionEnd(
        [&app, &stopping](const std::string& what) {
            stopping(what);
            app->quit();
        },
        [&stopping, &stopAgent](const std::string& what) {
            stopping(what);
            stopAgent();
        });

    // The face goes before the agent: a window hidden as it is destroyed still tells the agent that the
    // pairing code left the screen, and nothing may reach for the agent once it is taken down.
    const int status = runFace(*app, graph, backend, haveDisplay);
    stopAgent();
    return status;
}
