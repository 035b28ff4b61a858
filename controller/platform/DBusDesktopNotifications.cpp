#include "controller/platform/DBusDesktopNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace dovrel::controller {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

void whenAnswered(const QDBusPendingCall& call, QObject* context, std::function<void(bool)> done) {
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         done(!w->isError());
                     });
}

} // namespace

DBusDesktopNotifications::DBusDesktopNotifications(QDBusConnection bus) : bus_(std::move(bus)) {}

DBusDesktopNotifications::~DBusDesktopNotifications() = default;

void DBusDesktopNotifications::checkAvailable(std::function<void(bool)> done) {
    if (!bus_.isConnected()) {
        done(false);
        return;
    }
    const QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, "GetServerInformation");
    whenAnswered(bus_.asyncCall(m, 10000), &context_, std::move(done));
}

void DBusDesktopNotifications::show(const QString& title, const QString& body, std::function<void(bool)> done) {
    if (!bus_.isConnected()) {
        done(false);
        return;
    }
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, "Notify");
    const QVariantMap hints{{"suppress-sound", true},
                            {"desktop-entry", QStringLiteral("com.quendal.dovrel.controller")}};
    m << QStringLiteral("DOVRELÆ") << 0u << QString() << title << body << QStringList() << hints << -1;
    whenAnswered(bus_.asyncCall(m, 10000), &context_, std::move(done));
}

} // namespace dovrel::controller
