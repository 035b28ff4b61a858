#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace dovrel::controller::test {

// Runs the main thread's events until `done` holds or the time is up.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limit.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Runs the main thread's events for `d`, letting other threads' posts arrive meanwhile.
inline void pump(std::chrono::milliseconds d) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < d.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace dovrel::controller::test
