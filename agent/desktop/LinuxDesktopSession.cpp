#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QProcess>

#include <xcb/dpms.h>
#include <xcb/xcb.h>

#include "agent/common/AgentLog.h"
#include "agent/core/DesktopSession.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");

// One private bus connection for the length of an action, closed again afterwards.
class Bus {
public:
    Bus(QDBusConnection::BusType type, const QString& address, const QString& name)
        : name_(name), connection_(address.isEmpty() ? QDBusConnection::connectToBus(type, name)
                                                     : QDBusConnection::connectToBus(address, name)) {}
    ~Bus() { QDBusConnection::disconnectFromBus(name_); }
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    bool connected() const { return connection_.isConnected(); }

    QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& args, int timeoutMs) {
        QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
        m.setArguments(args);
        return connection_.call(m, QDBus::Block, timeoutMs);
    }

private:
    QString name_;
    QDBusConnection connection_;
};

bool ok(const QDBusMessage& reply) { return reply.type() == QDBusMessage::ReplyMessage; }

QString objectPath(const QDBusMessage& reply) {
    if (!ok(reply) || reply.arguments().isEmpty()) return {};
    return qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
}

class LinuxDesktopSession final : public DesktopSession {
public:
    explicit LinuxDesktopSession(LinuxDesktopOptions options) : options_(std::move(options)) {
        if (!options_.turnDisplayOff) options_.turnDisplayOff = turnX11DisplayOff;
    }

    void lockAndTurnDisplayOff() override {
        queue_.post([this] {
            std::string why;
            if (!lock(why)) print("⚠︎ could not lock the session — " + why + "; turning the display off anyway");
            std::string offWhy;
            if (!options_.turnDisplayOff(offWhy)) print("⚠︎ could not turn the display off — " + offWhy);
        });
    }

    void showLauncher() override {
        queue_.post([this] {
            // A controller may ask as often as it likes; one launcher at a time, at most one a second.
            const auto now = std::chrono::steady_clock::now();
            if ((launcherStarted_ && now - *launcherStarted_ < launcherGap) || launcherRunning()) {
                if (!launcherIgnoredSaid_) print("• launcher already on its way — further requests ignored for now");
                launcherIgnoredSaid_ = true;
                return;
            }
            launcherStarted_ = now;
            launcherIgnoredSaid_ = false;
            Bus session(QDBusConnection::SessionBus, options_.sessionBusAddress, connectionName("launcher"));
            if (session.connected() && ok(session.call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell",
                                                       "ShowApplications", {}, options_.dbusTimeoutMs)))
                return;
            // Started on its own, never waited for; its process id tells whether it still runs.
            qint64 pid = 0;
            if (QProcess::startDetached(options_.folderOpener, options_.folderArguments, QString(), &pid))
                launcherPid_ = static_cast<pid_t>(pid);
            print("• no app grid on this desktop — opened the file manager instead");
        });
    }

    void showWindowOverview() override {
        queue_.post([this] {
            Bus session(QDBusConnection::SessionBus, options_.sessionBusAddress, connectionName("overview"));
            if (session.connected()) {
                const int timeout = options_.dbusTimeoutMs;
                if (ok(session.call("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Set",
                                    {QStringLiteral("org.gnome.Shell"), QStringLiteral("OverviewActive"),
                                     QVariant::fromValue(QDBusVariant(true))},
                                    timeout)))
                    return;
                if (ok(session.call("org.kde.kglobalaccel", "/component/kwin", "org.kde.kglobalaccel.Component",
                                    "invokeShortcut", {QStringLiteral("Overview")}, timeout)))
                    return;
            }
            print("• no window overview on this desktop — nothing shown");
        });
    }

private:
    static constexpr auto launcherGap = std::chrono::seconds(1);

    // The detached launcher is not our child (nothing reaps it here): it runs while its process exists.
    bool launcherRunning() {
        if (launcherPid_ <= 0) return false;
        if (::kill(launcherPid_, 0) == 0 || errno == EPERM) return true;
        launcherPid_ = 0;
        return false;
    }

    QString connectionName(const char* what) {
        return QStringLiteral("dovrel.desktop.%1.%2").arg(what).arg(++connections_);
    }

    bool lock(std::string& why) {
        if (lockThroughLogind()) return true;
        if (lockThroughScreensaver()) return true;
        why = "neither logind nor a screensaver service would lock it";
        return false;
    }

    bool lockThroughLogind() {
        Bus system(QDBusConnection::SystemBus, options_.systemBusAddress, connectionName("logind"));
        if (!system.connected()) return false;
        const int timeout = options_.dbusTimeoutMs;
        QString session = objectPath(system.call(login1, login1Path, login1Manager, "GetSessionByPID",
                                                 {QVariant::fromValue(static_cast<uint>(::getpid()))}, timeout));
        if (session.isEmpty()) {
            if (const char* id = std::getenv("XDG_SESSION_ID"); id && *id)
                session =
                    objectPath(system.call(login1, login1Path, login1Manager, "GetSession", {QString(id)}, timeout));
        }
        if (session.isEmpty()) {
            // A supervised agent runs outside any session: lock the user's graphical one.
            const QString user = objectPath(system.call(login1, login1Path, login1Manager, "GetUser",
                                                        {QVariant::fromValue(static_cast<uint>(::getuid()))}, timeout));
            if (!user.isEmpty()) {
                const QDBusMessage display =
                    system.call(login1, user, "org.freedesktop.DBus.Properties", "Get",
                                {QStringLiteral("org.freedesktop.login1.User"), QStringLiteral("Display")}, timeout);
                if (ok(display) && !display.arguments().isEmpty()) {
                    const QDBusArgument arg = qvariant_cast<QDBusArgument>(
                        qvariant_cast<QDBusVariant>(display.arguments().first()).variant());
                    QString id;
                    QDBusObjectPath path;
                    arg.beginStructure();
                    arg >> id >> path;
                    arg.endStructure();
                    if (!id.isEmpty()) session = path.path();
                }
            }
        }
        if (session.isEmpty()) return false;
        return ok(system.call(login1, session, "org.freedesktop.login1.Session", "Lock", {}, timeout));
    }

    bool lockThroughScreensaver() {
        Bus bus(QDBusConnection::SessionBus, options_.sessionBusAddress, connectionName("screensaver"));
        if (!bus.connected()) return false;
        const struct {
            const char* service;
            const char* path;
            const char* interface;
        } savers[] = {
            {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
            {"org.freedesktop.ScreenSaver", "/ScreenSaver", "org.freedesktop.ScreenSaver"},
            {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
        };
        for (const auto& s : savers)
            if (ok(bus.call(s.service, s.path, s.interface, "Lock", {}, options_.dbusTimeoutMs))) return true;
        return false;
    }

    LinuxDesktopOptions options_;
    std::atomic<int> connections_{0};
    // The launcher, on the desktop's queue.
    std::optional<std::chrono::steady_clock::time_point> launcherStarted_;
    pid_t launcherPid_ = 0;
    bool launcherIgnoredSaid_ = false;
    SerialQueue queue_{"dovrel.desktop"}; // last: its thread stops before the options go
};

struct XcbConnection {
    xcb_connection_t* c;
    ~XcbConnection() { xcb_disconnect(c); }
};

} // namespace

bool turnX11DisplayOff(std::string& why) {
    XcbConnection x{xcb_connect(nullptr, nullptr)};
    if (xcb_connection_has_error(x.c)) {
        why = "no X display to reach";
        return false;
    }
    const auto* ext = xcb_get_extension_data(x.c, &xcb_dpms_id);
    if (!ext || !ext->present) {
        why = "the X server has no DPMS";
        return false;
    }
    std::unique_ptr<xcb_dpms_capable_reply_t, decltype(&std::free)> capable(
        xcb_dpms_capable_reply(x.c, xcb_dpms_capable(x.c), nullptr), &std::free);
    if (!capable || !capable->capable) {
        why = "the display is not DPMS capable";
        return false;
    }
    std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> enableError(
        xcb_request_check(x.c, xcb_dpms_enable_checked(x.c)), &std::free);
    std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> forceError(
        xcb_request_check(x.c, xcb_dpms_force_level_checked(x.c, XCB_DPMS_DPMS_MODE_OFF)), &std::free);
    if (enableError || forceError) {
        why = "the X server refused DPMS off";
        return false;
    }
    return true;
}

std::unique_ptr<DesktopSession> makeLinuxDesktopSession(LinuxDesktopOptions options) {
    return std::make_unique<LinuxDesktopSession>(std::move(options));
}

} // namespace dovrel::agent
