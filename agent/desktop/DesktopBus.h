#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QString>
#include <QVariant>
#include <QVariantList>

namespace dovrel::agent {

// One private bus connection for the length of a desktop action, closed again afterwards. Its calls
// block the calling thread (the desktop's own) for at most their time-out.
class DesktopBus {
public:
    // `address` empty: the standard bus of `type`. `name` must be unique among open connections.
    DesktopBus(QDBusConnection::BusType type, const QString& address, const QString& name)
        : name_(name), connection_(address.isEmpty() ? QDBusConnection::connectToBus(type, name)
                                                     : QDBusConnection::connectToBus(address, name)) {}
    ~DesktopBus() { QDBusConnection::disconnectFromBus(name_); }
    DesktopBus(const DesktopBus&) = delete;
    DesktopBus& operator=(const DesktopBus&) = delete;

    bool connected() const { return connection_.isConnected(); }

    QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& args, int timeoutMs) {
        QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
        m.setArguments(args);
        return connection_.call(m, QDBus::Block, timeoutMs);
    }

    // A property through org.freedesktop.DBus.Properties; invalid when it could not be read.
    QVariant property(const QString& service, const QString& path, const QString& interface, const QString& name,
                      int timeoutMs) {
        const QDBusMessage reply = call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {interface, name}, timeoutMs);
        if (!answered(reply) || reply.arguments().isEmpty()) return {};
        return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant();
    }

    static bool answered(const QDBusMessage& reply) { return reply.type() == QDBusMessage::ReplyMessage; }

    static QString objectPath(const QDBusMessage& reply) {
        if (!answered(reply) || reply.arguments().isEmpty()) return {};
        return qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
    }

private:
    QString name_;
    QDBusConnection connection_;
};

} // namespace dovrel::agent
