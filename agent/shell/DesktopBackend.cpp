#include "agent/shell/DesktopBackend.h"

#include <cstdlib>

namespace dovrel::agent {

namespace {

std::string variable(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// "ubuntu:GNOME" names GNOME last; "KDE" alone; nothing says little.
std::string desktopNameOf(const std::string& currentDesktop) {
    if (currentDesktop.empty()) return "this Wayland desktop";
    const auto colon = currentDesktop.rfind(':');
    return (colon == std::string::npos ? currentDesktop : currentDesktop.substr(colon + 1)) + " on Wayland";
}

std::string sessionFacts(const DesktopEnvironment& env) {
    std::string facts;
    const auto add = [&](const std::string& part) { facts += (facts.empty() ? "" : ", ") + part; };
    if (!env.waylandDisplay.empty()) add("WAYLAND_DISPLAY=" + env.waylandDisplay);
    if (!env.sessionType.empty()) add("XDG_SESSION_TYPE=" + env.sessionType);
    if (!env.display.empty()) add("DISPLAY=" + env.display);
    return facts.empty() ? "no display variables" : facts;
}

} // namespace

DesktopEnvironment DesktopEnvironment::fromProcess() {
    DesktopEnvironment env;
    env.waylandDisplay = variable("WAYLAND_DISPLAY");
    env.sessionType = variable("XDG_SESSION_TYPE");
    env.display = variable("DISPLAY");
    env.currentDesktop = variable("XDG_CURRENT_DESKTOP");
    return env;
}

DesktopBackend chooseDesktopBackend(const DesktopEnvironment& env) {
    DesktopBackend b;
    const std::string facts = sessionFacts(env);
    if (env.wayland()) {
        if (env.gnomeRemoteDesktop) {
            b.kind = DesktopKind::gnomeWayland;
            b.desktopName = "GNOME on Wayland";
            b.why = facts + "; GNOME's remote desktop and screen cast are on the session bus";
        } else {
            b.kind = DesktopKind::unsupportedWayland;
            b.desktopName = desktopNameOf(env.currentDesktop);
            b.why = facts + "; no GNOME remote desktop on the session bus";
        }
    } else if (!env.display.empty()) {
        b.kind = DesktopKind::x11;
        b.desktopName = "X11";
        b.why = facts;
    } else {
        b.why = facts;
    }
    return b;
}

std::string desktopBackendLine(const DesktopBackend& b) {
    switch (b.kind) {
    case DesktopKind::x11:
        return "• desktop: X11 — screen through MIT-SHM, input through XTEST, the X clipboard (" + b.why + ")";
    case DesktopKind::gnomeWayland:
        return "• desktop: GNOME on Wayland — screen, input and clipboard through GNOME's remote desktop, pictures "
               "through PipeWire (" +
               b.why + ")";
    case DesktopKind::unsupportedWayland:
        return "⚠︎ desktop: " + b.desktopName +
               " is not supported yet — no picture, input or clipboard; log in to a GNOME or an X11 session (" + b.why +
               ")";
    case DesktopKind::none:
        return "⚠︎ desktop: none — no X display and no Wayland session; sessions and files work without picture, "
               "input or clipboard (" +
               b.why + ")";
    }
    return {};
}

} // namespace dovrel::agent
