#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

namespace dovrel::test {

// A notification service (org.freedesktop.Notifications) on a private session bus that records each
// Notify call and answers it with a fresh id. Its own bus connection; messages are handled on the
// thread that made it, which must run an event loop.
class NotificationsDouble final : public QDBusVirtualObject {
public:
    struct Notification {
        QString appName;
        QString summary;
        QString body;
        QVariantMap hints;
        int expireTimeout = 0;
    };

    // False from `registered()` when the name could not be taken.
    explicit NotificationsDouble(const std::string& busAddress)
        : bus_(QDBusConnection::connectToBus(QString::fromStdString(busAddress), "notifications-double")) {
        registered_ = bus_.registerVirtualObject("/org/freedesktop/Notifications", this) &&
                      bus_.registerService("org.freedesktop.Notifications");
    }
    ~NotificationsDouble() override {
        bus_.unregisterService("org.freedesktop.Notifications");
        bus_.unregisterObject("/org/freedesktop/Notifications");
        QDBusConnection::disconnectFromBus("notifications-double");
    }

    bool registered() const { return registered_; }
    std::vector<Notification> shown() const {
        const std::lock_guard g(lock_);
        return shown_;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != "org.freedesktop.Notifications") return false;
        if (message.member() == "GetServerInformation") {
            connection.send(message.createReply(QVariantList{"double", "test", "0", "1.2"}));
            return true;
        }
        if (message.member() != "Notify") return false;
        const QVariantList a = message.arguments();
        if (a.size() != 8) {
            connection.send(message.createErrorReply(QDBusError::InvalidArgs, "Notify takes eight arguments"));
            return true;
        }
        uint id = 0;
        {
            const std::lock_guard g(lock_);
            shown_.push_back(
                {a[0].toString(), a[3].toString(), a[4].toString(), qdbus_cast<QVariantMap>(a[6]), a[7].toInt()});
            id = static_cast<uint>(shown_.size());
        }
        connection.send(message.createReply(QVariant::fromValue(id)));
        return true;
    }

private:
    QDBusConnection bus_;
    bool registered_ = false;
    mutable std::mutex lock_;
    std::vector<Notification> shown_;
};

} // namespace dovrel::test
