#pragma once

#include <string_view>

namespace dovrel::agent {

// The status with which the agent ends when its core fails, so that its supervisor starts a fresh one.
inline constexpr int fatalExitStatus = 70;

// Logs "!! FATAL: the agent stopped: " with `what` and where the log is, flushes, and ends the process
// with status 70 at once (_exit): other threads are still running, and destructors or exit handlers
// would pull state from under them.
[[noreturn]] void exitFatally(std::string_view what);

} // namespace dovrel::agent
