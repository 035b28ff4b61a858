#include "runtime/session/SessionEnd.h"

#include <unistd.h>

#include <QDBusConnection>

#include "runtime/StopDeadline.h"
#include "runtime/session/DisplayLoss.h"

namespace dovrel {

SessionEnd::SessionEnd(std::function<void(const std::string&)> quit, std::function<void(const std::string&)> stopNow)
    : quit_(std::move(quit)) {
    // The bus ends with the login session that started it; libdbus then hands its connections a last
    // message of its own.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                    QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this,
                    SLOT(busGone()));
    displayloss::arm(std::move(stopNow));
    displayloss::watchX();
    displayloss::watchWayland();
}

SessionEnd::~SessionEnd() {
    displayloss::unwatchWayland();
    displayloss::unwatchX();
    displayloss::disarm();
}

void SessionEnd::busGone() {
    ::alarm(stopWithinSeconds);
    quit_("the session bus went away");
}

} // namespace dovrel
