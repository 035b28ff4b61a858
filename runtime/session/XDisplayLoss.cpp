#include "runtime/session/DisplayLoss.h"

#include <cstdlib>

// Qt's headers go before Xlib's, whose macros (Bool, Status) they cannot stand.
#include <QGuiApplication>

#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace dovrel::displayloss {

namespace {

constexpr const char* xGone = "the X display went away";

Display* watched = nullptr;
XIOErrorHandler previousHandler = nullptr;

// Xlib's default ends the process with exit(1) on whichever thread meets the broken connection: with a
// window drawn by OpenGL that is often the render thread, while the main thread is ending too.
int onIoError(Display*) {
    lost(xGone);
    // Not armed any more: as Xlib would have it, without a second run of exit's handlers.
    std::_Exit(1);
}

#ifdef DOVREL_HAVE_XLIB_IO_EXIT_HANDLER
// Xlib goes on to this one when an I/O-error handler that returns has replaced ours; returning from here
// would let the failed call return into code that cannot cope with it.
void onIoErrorExit(Display* display, void*) { onIoError(display); }
#endif

bool connectionBroken() {
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    const auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 && x11->connection() && xcb_connection_has_error(x11->connection()) != 0;
}

// Qt's X platform calls exit(1) from inside the event loop the moment it finds the connection broken.
// exit destroys the calling thread's thread_local objects before anything else (before the functions
// registered with atexit and the objects of static storage), so a thread_local of the main thread learns
// of it first, while all the rest still stands.
struct ExitWatch {
    ExitWatch() = default;
    ExitWatch(const ExitWatch&) = delete;
    ExitWatch& operator=(const ExitWatch&) = delete;
    ~ExitWatch() {
        if (armed() && connectionBroken()) lost(xGone);
    }
};

} // namespace

void watchX() {
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    const auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display()) return;
    static thread_local ExitWatch exitWatch;
    [[maybe_unused]] const ExitWatch* made = &exitWatch;
    watched = x11->display();
    // Replaces Qt's handler, which hands over to Xlib's default.
    previousHandler = XSetIOErrorHandler(&onIoError);
#ifdef DOVREL_HAVE_XLIB_IO_EXIT_HANDLER
    XSetIOErrorExitHandler(watched, &onIoErrorExit, nullptr);
#endif
}

void unwatchX() {
    if (!watched) return;
    XSetIOErrorHandler(previousHandler);
#ifdef DOVREL_HAVE_XLIB_IO_EXIT_HANDLER
    XSetIOErrorExitHandler(watched, nullptr, nullptr);
#endif
    watched = nullptr;
}

} // namespace dovrel::displayloss
