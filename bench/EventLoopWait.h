#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "tests/controller/WaitUntil.h"

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
    return controller::test::waitUntil(done, limit);
}

} // namespace dovrel::bench
