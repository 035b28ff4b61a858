#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>

#include "tests/controller/WaitUntil.h"

namespace dovrel::bench {

// Runs the Qt event loop of a benchmark's main thread for a while.
using controller::test::pump;

// Runs the event loop until `done` holds; false when `limit` passed first.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    return controller::test::waitUntil(done, limit);
}

} // namespace dovrel::bench
