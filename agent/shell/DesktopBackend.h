#pragma once

#include <string>

namespace dovrel::agent {

// Which desktop the agent serves, told apart at start-up from what the session says of itself.
enum class DesktopKind {
    x11,                // an X server: MIT-SHM, XTEST, the X clipboard
    gnomeWayland,       // GNOME on Wayland: the compositor's remote desktop and screen cast
    unsupportedWayland, // another Wayland compositor: nothing can be seen or driven yet
    none,               // no desktop at all (started outside a session)
};

// What the session says of itself: its variables, and whether GNOME's remote-desktop and screen-cast
// interfaces are on its bus.
struct DesktopEnvironment {
    std::string waylandDisplay; // $WAYLAND_DISPLAY
    std::string sessionType;    // $XDG_SESSION_TYPE
    std::string display;        // $DISPLAY
    std::string currentDesktop; // $XDG_CURRENT_DESKTOP, e.g. "KDE" or "ubuntu:GNOME"
    bool gnomeRemoteDesktop = false;

    static DesktopEnvironment fromProcess();
    // A Wayland session: the session type says so, or a Wayland display is named.
    bool wayland() const { return sessionType == "wayland" || !waylandDisplay.empty(); }
};

struct DesktopBackend {
    DesktopKind kind = DesktopKind::none;
    std::string desktopName; // what to call the desktop in texts ("KDE", "this Wayland desktop")
    std::string why;         // the facts the choice rests on, for the start-up line
};

// On a Wayland session only the compositor can show the screen or take input (an X client of Xwayland
// sees only other X clients: a black screen): GNOME's interfaces where the bus has them, otherwise the
// desktop is named as not supported rather than streamed black. Elsewhere an X display is used when
// there is one.
DesktopBackend chooseDesktopBackend(const DesktopEnvironment& env);

// The start-up line that says which backend runs and why.
std::string desktopBackendLine(const DesktopBackend& backend);

} // namespace dovrel::agent
