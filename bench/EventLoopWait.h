#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace dovrel::bench {

// Runs the Qt event loop of a benchmark's main thread for `d`.
inline void pump(std::chrono::milliseconds d) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < d.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

// Runs the event loop until `done` holds; false when `limit` passed first.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limit.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

} // namespace dovrel::bench
