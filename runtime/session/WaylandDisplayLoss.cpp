#include "runtime/session/DisplayLoss.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include <QGuiApplication>

namespace dovrel::displayloss {

namespace {

// The compositor's socket, and the process that watches it (a child forked since is not watched).
sockaddr_un compositor{};
std::atomic<bool> watching{false};
pid_t watcher = 0;

// The compositor is gone when its socket no longer takes connections. As it dies, its clients'
// connections and its listening socket close one after another, in no set order: a refusal is waited
// for a little while. A compositor that is still there (a protocol error ended the connection) costs
// that wait and keeps the failure.
bool compositorGone() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        const int connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&compositor), sizeof compositor);
        const int error = errno;
        ::close(fd);
        if (connected != 0 && (error == ECONNREFUSED || error == ENOENT)) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool waylandEnding(int status) { return status != 0 && watching.load() && ::getpid() == watcher && compositorGone(); }

} // namespace

void watchWayland() {
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return;
    // A connection handed over as a descriptor has no socket to look at.
    if (std::getenv("WAYLAND_SOCKET")) return;
    const char* name = std::getenv("WAYLAND_DISPLAY");
    std::string path = name && *name ? name : "wayland-0";
    if (path.front() != '/') {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime) return;
        path = std::string(runtime) + "/" + path;
    }
    if (path.size() >= sizeof compositor.sun_path) return;
    compositor.sun_family = AF_UNIX;
    std::memcpy(compositor.sun_path, path.c_str(), path.size() + 1);
    watcher = ::getpid();
    watching.store(true);
}

void unwatchWayland() { watching.store(false); }

} // namespace dovrel::displayloss

// Qt's Wayland platform ends the process with _exit(1) from whichever of its threads first finds the
// connection to the compositor broken (the main thread, or the one reading frame callbacks), so no exit
// handler ever runs. It reaches the C library's _exit through the dynamic linker, which finds this one
// first (the programs export it): while the connection is watched, a failing _exit with the compositor
// gone is the display's end; every other call is the C library's own.
extern "C" void _exit(int status) {
    if (dovrel::displayloss::waylandEnding(status)) dovrel::displayloss::lost("the Wayland display went away");
    ::syscall(SYS_exit_group, status);
    __builtin_unreachable();
}
