#pragma once

#include <functional>

#include <QString>

namespace dovrel::controller {

// Notifications shown by the desktop. Calls run on the calling thread (the main thread) and never
// wait: each answer comes later through its callback, on the same thread, exactly once.
class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;
    // Whether a notification service answers at all.
    virtual void checkAvailable(std::function<void(bool)> done) = 0;
    // Shows one notification without sound; `done(true)` once the service took it.
    virtual void show(const QString& title, const QString& body, std::function<void(bool)> done) = 0;
};

} // namespace dovrel::controller
