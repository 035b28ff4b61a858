#include "agent/shell/SessionEnd.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <QDBusConnection>
#include <QGuiApplication>
#include <xcb/xcb.h>

#include "agent/common/AgentLog.h"

namespace dovrel::agent {

namespace {

// The one armed instance; an exit hook cannot be taken back, so it looks here.
std::atomic<SessionEnd*> armed{nullptr};

// A teardown that hangs must not keep the session's end waiting (as after a stop signal).
constexpr unsigned stopWithinSeconds = 10;

} // namespace

SessionEnd::SessionEnd(std::function<void(const std::string&)> quit, std::function<void()> stopNow)
    : quit_(std::move(quit)), stopNow_(std::move(stopNow)) {
    // The bus ends with the login session that started it; libdbus then hands its connections a last
    // message of its own.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                    QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this,
                    SLOT(busGone()));
    static const bool hooked = std::atexit(&SessionEnd::onExit) == 0;
    if (hooked) armed.store(this);
}

SessionEnd::~SessionEnd() {
    SessionEnd* self = this;
    armed.compare_exchange_strong(self, nullptr);
}

void SessionEnd::busGone() {
    ::alarm(stopWithinSeconds);
    quit_("the session bus went away");
}

bool SessionEnd::displayBroken() {
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    const auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 && x11->connection() && xcb_connection_has_error(x11->connection()) != 0;
}

void SessionEnd::onExit() {
    SessionEnd* self = armed.exchange(nullptr);
    // Any other exit keeps its own status.
    if (!self || !displayBroken()) return;
    ::alarm(stopWithinSeconds);
    print("• the X display went away — stopping: closing the session and removing unfinished files");
    self->stopNow_();
    print("• agent stopped");
    std::fflush(stdout);
    // What is left to destroy still holds the broken display: nothing of it is needed any more.
    ::_exit(0);
}

} // namespace dovrel::agent
