#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <unistd.h>

#include <QDBusVariant>
#include <QProcess>

#include <xcb/dpms.h>
#include <xcb/xcb.h>

#include "agent/common/AgentLog.h"
#include "agent/core/DesktopSession.h"
#include "agent/desktop/DesktopBus.h"
#include "agent/desktop/ScreenLocker.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

namespace {

class LinuxDesktopSession final : public DesktopSession {
public:
    explicit LinuxDesktopSession(LinuxDesktopOptions options)
        : options_(std::move(options)), locker_(std::make_unique<ScreenLocker>(lockerOptions(options_))) {
        if (!options_.turnDisplayOff) options_.turnDisplayOff = turnX11DisplayOff;
    }
    // The locker's timers and bus connections belong to the desktop's thread: they go there.
    ~LinuxDesktopSession() override {
        queue_.sync([this] { locker_.reset(); });
    }

    void lockAndTurnDisplayOff(NotLocked notLocked) override {
        queue_.post([this, notLocked = std::move(notLocked)] {
            locker_->lock([this, notLocked](const ScreenLocker::Outcome& outcome) {
                if (!outcome.locked) {
                    print("⚠︎ could not lock the session — " + outcome.why + "; turning the display off anyway");
                    if (notLocked)
                        notLocked("The screen wasn't locked — no screen locker is running on that computer.");
                }
                std::string offWhy;
                if (!options_.turnDisplayOff(offWhy)) print("⚠︎ could not turn the display off — " + offWhy);
            });
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
            DesktopBus session(QDBusConnection::SessionBus, options_.sessionBusAddress, connectionName("launcher"));
            if (session.connected() &&
                DesktopBus::answered(session.call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell",
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
            DesktopBus session(QDBusConnection::SessionBus, options_.sessionBusAddress, connectionName("overview"));
            if (session.connected()) {
                const int timeout = options_.dbusTimeoutMs;
                if (DesktopBus::answered(
                        session.call("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Set",
                                     {QStringLiteral("org.gnome.Shell"), QStringLiteral("OverviewActive"),
                                      QVariant::fromValue(QDBusVariant(true))},
                                     timeout)))
                    return;
                if (DesktopBus::answered(session.call("org.kde.kglobalaccel", "/component/kwin",
                                                      "org.kde.kglobalaccel.Component", "invokeShortcut",
                                                      {QStringLiteral("Overview")}, timeout)))
                    return;
            }
            print("• no window overview on this desktop — nothing shown");
        });
    }

private:
    static constexpr auto launcherGap = std::chrono::seconds(1);

    static ScreenLocker::Options lockerOptions(const LinuxDesktopOptions& o) {
        ScreenLocker::Options l;
        l.systemBusAddress = o.systemBusAddress;
        l.sessionBusAddress = o.sessionBusAddress;
        l.dbusTimeoutMs = o.dbusTimeoutMs;
        if (o.lockCommands) l.commands = *o.lockCommands;
        l.confirmWithin = o.lockConfirmWithin;
        return l;
    }

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

    LinuxDesktopOptions options_;
    std::unique_ptr<ScreenLocker> locker_; // on the desktop's queue
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
