#pragma once

namespace dovrel::controller {

// A window fully covered by others, on a desktop that says so but whose word Qt does not pass on (an X
// server without a compositing window manager: Qt still counts the covered window as exposed and keeps
// drawing it). The desktop's watcher marks such a window with this dynamic property, true while fully
// covered; the views' rule for motion reads it beside Qt's own exposure.
inline constexpr char windowCoveredProperty[] = "dovrelCovered";

} // namespace dovrel::controller
