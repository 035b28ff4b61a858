#pragma once

#include <functional>
#include <string>

namespace dovrel::displayloss {

// How a program ends when its display goes away under the toolkit: Qt's X platform calls exit(1) from
// inside the event loop, Xlib ends the process from whichever thread (a render thread included) meets the
// broken connection first, and Qt's Wayland platform calls _exit(1) from whichever of its threads notices
// first. Each of those places comes here instead, and the process ends once, with status 0, without
// running destructors: the window and everything drawing it may be caught half-way inside the dead
// connection, so nothing of it is taken down; `stopNow` closes what must not be left open first.
// The main thread does it at once. Any other thread tells the main thread and waits where it stands,
// holding whatever it holds (going on inside a dead Xlib connection is not safe), so that no second exit
// runs and nothing it uses is destroyed under it. When the main thread does not come within two seconds
// (it is waiting for that very thread, as for a window's frame), that thread runs `stopNow` itself.

// From here on the display's end is taken for an ordinary stop. On the main thread, once the Qt
// application exists; `stopNow` runs there, or on the thread that found the end (see above).
void arm(std::function<void(const std::string& what)> stopNow);
// Back to the toolkit's own ending. On the main thread.
void disarm();
bool armed();
// The display is gone (`what` says which); any thread. Returns only when not armed.
void lost(const char* what);

// The X connection: Xlib's I/O-error handling is replaced and Qt's exit from inside the loop is caught.
// Nothing without an X connection. Main thread.
void watchX();
void unwatchX();
// The Wayland connection: Qt's _exit is caught when the compositor no longer takes connections. Nothing
// on another platform. Main thread.
void watchWayland();
void unwatchWayland();

} // namespace dovrel::displayloss
