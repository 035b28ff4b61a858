#pragma once

#include <functional>

namespace dovrel::agent {

// Runs `fn` on the application's main thread, after the work already queued there. Dropped when no
// Qt application object exists.
void postToMainThread(std::function<void()> fn);

} // namespace dovrel::agent
