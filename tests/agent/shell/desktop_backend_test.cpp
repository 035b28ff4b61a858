// Which desktop backend the agent picks from what the session says of itself.
#include <gtest/gtest.h>

#include "agent/shell/DesktopBackend.h"

using namespace dovrel::agent;

TEST(DesktopBackend, AWaylandSessionIsServedByGnomeOrNamedAsNotSupportedNeverByXwayland) {
    DesktopEnvironment env;
    env.waylandDisplay = "wayland-0";
    env.sessionType = "wayland";
    env.display = ":0"; // Xwayland: an X client there would see a black screen
    env.currentDesktop = "ubuntu:GNOME";
    env.gnomeRemoteDesktop = true;
    DesktopBackend b = chooseDesktopBackend(env);
    EXPECT_EQ(b.kind, DesktopKind::gnomeWayland);
    EXPECT_NE(desktopBackendLine(b).find("WAYLAND_DISPLAY=wayland-0"), std::string::npos);

    env.currentDesktop = "KDE";
    env.gnomeRemoteDesktop = false;
    b = chooseDesktopBackend(env);
    EXPECT_EQ(b.kind, DesktopKind::unsupportedWayland);
    EXPECT_EQ(b.desktopName, "KDE on Wayland");
    EXPECT_EQ(desktopBackendLine(b).rfind("⚠︎ desktop: KDE on Wayland is not supported yet", 0), 0u);

    // Either sign of Wayland is enough; a desktop that names nothing is still named.
    env = {};
    env.sessionType = "wayland";
    EXPECT_EQ(chooseDesktopBackend(env).desktopName, "this Wayland desktop");
    env = {};
    env.waylandDisplay = "wayland-1";
    EXPECT_EQ(chooseDesktopBackend(env).kind, DesktopKind::unsupportedWayland);
}

TEST(DesktopBackend, AnXSessionUsesTheXServerAndNothingMeansNoDesktop) {
    DesktopEnvironment env;
    env.display = ":1";
    env.sessionType = "x11";
    env.gnomeRemoteDesktop = true; // GNOME on Xorg has the interfaces too; X serves it
    EXPECT_EQ(chooseDesktopBackend(env).kind, DesktopKind::x11);
    env.display.clear();
    env.sessionType = "tty";
    EXPECT_EQ(chooseDesktopBackend(env).kind, DesktopKind::none);
}
