#pragma once

namespace dovrel {

// However a program is asked to stop (a stop signal, the end of its desktop session), a teardown that
// hangs must not keep whoever asked waiting: an alarm this many seconds on ends the process.
inline constexpr unsigned stopWithinSeconds = 10;

} // namespace dovrel
