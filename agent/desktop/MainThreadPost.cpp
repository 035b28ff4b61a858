#include "agent/desktop/MainThreadPost.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace dovrel::agent {

void postToMainThread(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

} // namespace dovrel::agent
