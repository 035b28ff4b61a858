#pragma once

#include <QDBusConnection>
#include <QObject>

#include "controller/platform/DesktopNotifications.h"

namespace dovrel::controller {

// org.freedesktop.Notifications on a session bus. The service "answers" when GetServerInformation
// returns, which also starts a notification daemon that the bus activates on demand.
class DBusDesktopNotifications final : public DesktopNotifications {
public:
    // `bus`: the user's session bus in the program, a private one in tests.
    explicit DBusDesktopNotifications(QDBusConnection bus);
    ~DBusDesktopNotifications() override;

    void checkAvailable(std::function<void(bool)> done) override;
    void show(const QString& title, const QString& body, std::function<void(bool)> done) override;

private:
    QDBusConnection bus_;
    QObject context_; // answers still on their way are dropped with it
};

} // namespace dovrel::controller
