#include "agent/desktop/LinuxPowerAssertions.h"

#include <atomic>
#include <cstdlib>
#include <optional>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>

#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include "agent/common/AgentLog.h"

namespace dovrel::agent {

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");

std::atomic<int> connectionCount{0};

using Reply = std::unique_ptr<xcb_generic_error_t, decltype(&std::free)>;

bool present(xcb_connection_t* c, xcb_extension_t* ext) {
    const auto* data = xcb_get_extension_data(c, ext);
    return data && data->present;
}

} // namespace

// Hears logind say that the machine has woken.
class SleepWatcher : public QObject {
    Q_OBJECT
public:
    std::function<void()> onWake;

public slots:
    void prepareForSleep(bool sleeping) {
        if (!sleeping && onWake) onWake();
    }
};

struct LinuxPowerAssertions::State {
    explicit State(const LinuxPowerOptions& o)
        : options(o), busName(QStringLiteral("dovrel.power.%1").arg(++connectionCount)),
          bus(o.systemBusAddress.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, busName)
                                           : QDBusConnection::connectToBus(o.systemBusAddress, busName)) {}
    ~State() {
        inhibitor.reset();
        if (watching)
            bus.disconnect(login1, login1Path, login1Manager, "PrepareForSleep", &watcher, SLOT(prepareForSleep(bool)));
        QDBusConnection::disconnectFromBus(busName);
        if (x) xcb_disconnect(x); // also ends the screensaver suspension
    }

    const LinuxPowerOptions& options;
    QString busName;
    QDBusConnection bus;
    std::optional<QDBusUnixFileDescriptor> inhibitor;
    SleepWatcher watcher;
    bool watching = false;
    xcb_connection_t* x = nullptr;
    bool displayHeld = false;

    // ---- logind

    void inhibitSleep() {
        if (inhibitor) return;
        if (!bus.isConnected()) {
            print("⚠︎ could not keep this computer from sleeping — no system bus (" +
                  bus.lastError().message().toStdString() + ")");
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(login1, login1Path, login1Manager, "Inhibit");
        call.setArguments({QStringLiteral("idle:sleep"), QStringLiteral("DOVRELÆ"),
                           QStringLiteral("DOVRELÆ remote access - stay reachable"), QStringLiteral("block")});
        const QDBusMessage reply = bus.call(call, QDBus::Block, options.dbusTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            print("⚠︎ could not keep this computer from sleeping — logind refused (" +
                  reply.errorMessage().toStdString() + ")");
            return;
        }
        const auto fd = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
        if (!fd.isValid()) {
            print("⚠︎ could not keep this computer from sleeping — logind handed out no inhibitor");
            return;
        }
        inhibitor = fd; // holds its own copy of the descriptor; closing it ends the inhibition
    }

    void watchWake() {
        if (watching || !bus.isConnected()) return;
        watching =
            bus.connect(login1, login1Path, login1Manager, "PrepareForSleep", &watcher, SLOT(prepareForSleep(bool)));
    }

    // ---- the X screensaver and DPMS

    bool connectX(std::string& why) {
        if (x && !xcb_connection_has_error(x)) return true;
        if (x) xcb_disconnect(x); // the display went away; its suspension went with it
        displayHeld = false;
        x = xcb_connect(options.displayName.empty() ? nullptr : options.displayName.c_str(), nullptr);
        if (xcb_connection_has_error(x)) {
            xcb_disconnect(x);
            x = nullptr;
            why = "no X display to reach";
            return false;
        }
        return true;
    }

    bool suspendScreenSaver(bool on, std::string& why) {
        if (!connectX(why)) return false;
        if (!present(x, &xcb_screensaver_id)) {
            why = "the X server has no screensaver extension";
            return false;
        }
        Reply error(xcb_request_check(x, xcb_screensaver_suspend_checked(x, on ? 1 : 0)), &std::free);
        if (error) {
            why = "the X server refused to suspend its screensaver";
            return false;
        }
        displayHeld = on;
        return true;
    }

    void holdDisplay() {
        std::string why;
        if (!suspendScreenSaver(true, why)) print("⚠︎ could not keep the display awake — " + why);
    }

    void releaseDisplay() {
        std::string why;
        if (!suspendScreenSaver(false, why)) displayHeld = false; // nothing held to release
    }

    bool dpmsOff(std::string& why) {
        if (!connectX(why)) return false;
        if (!present(x, &xcb_dpms_id)) {
            why = "the X server has no DPMS";
            return false;
        }
        std::unique_ptr<xcb_dpms_capable_reply_t, decltype(&std::free)> capable(
            xcb_dpms_capable_reply(x, xcb_dpms_capable(x), nullptr), &std::free);
        if (!capable || !capable->capable) {
            why = "the display is not DPMS capable";
            return false;
        }
        Reply enable(xcb_request_check(x, xcb_dpms_enable_checked(x)), &std::free);
        Reply off(xcb_request_check(x, xcb_dpms_force_level_checked(x, XCB_DPMS_DPMS_MODE_OFF)), &std::free);
        if (enable || off) {
            why = "the X server refused DPMS off";
            return false;
        }
        return true;
    }

    // What a key press would do: the screensaver's clock starts over and a display that DPMS turned
    // off comes back on.
    void userActivity() {
        std::string why;
        if (!connectX(why)) return;
        xcb_force_screen_saver(x, XCB_SCREEN_SAVER_RESET);
        if (present(x, &xcb_dpms_id)) {
            // Refused (BadMatch) when DPMS is disabled, and then the display is on anyway.
            Reply ignored(xcb_request_check(x, xcb_dpms_force_level_checked(x, XCB_DPMS_DPMS_MODE_ON)), &std::free);
        }
        xcb_flush(x);
    }
};

LinuxPowerAssertions::LinuxPowerAssertions(LinuxPowerOptions options)
    : options_(std::move(options)), queue_(std::make_unique<SerialQueue>("dovrel.power")) {
    queue_->sync([this] { state_ = std::make_unique<State>(options_); });
}

LinuxPowerAssertions::~LinuxPowerAssertions() {
    queue_->sync([this] { state_.reset(); });
}

void LinuxPowerAssertions::hold() {
    queue_->post([this] {
        state_->inhibitSleep();
        state_->holdDisplay();
    });
}

void LinuxPowerAssertions::restDisplay() {
    queue_->post([this] {
        state_->releaseDisplay();
        std::string why;
        if (!state_->dpmsOff(why)) print("⚠︎ could not turn the display off — " + why);
    });
}

void LinuxPowerAssertions::wakeDisplay() {
    queue_->post([this] {
        state_->userActivity();
        state_->holdDisplay();
    });
}

void LinuxPowerAssertions::setOnWake(std::function<void()> onWake) {
    queue_->sync([this, &onWake] {
        state_->watcher.onWake = std::move(onWake);
        if (state_->watcher.onWake) state_->watchWake();
    });
}

void LinuxPowerAssertions::waitIdle() {
    queue_->sync([] {});
}

bool LinuxPowerAssertions::sleepInhibited() {
    bool held = false;
    queue_->sync([&] { held = state_->inhibitor.has_value(); });
    return held;
}

bool LinuxPowerAssertions::displayHeld() {
    bool held = false;
    queue_->sync([&] { held = state_->displayHeld; });
    return held;
}

} // namespace dovrel::agent

#include "LinuxPowerAssertions.moc"
