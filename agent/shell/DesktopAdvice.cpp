#include "agent/shell/DesktopAdvice.h"

#include <QObject>

namespace dovrel::agent {

namespace {

// Restarting the agent inside the session hands it the session's bus and display.
const QString restartInSession =
    QStringLiteral("systemctl --user import-environment WAYLAND_DISPLAY XDG_SESSION_TYPE XDG_CURRENT_DESKTOP "
                   "DBUS_SESSION_BUS_ADDRESS && systemctl --user restart com.quendal.dovrel.agent.service");

Fix unsupportedFix(const DesktopFacts& facts) {
    Fix fix;
    fix.hint = QObject::tr("%1 is not supported yet: the agent can neither see nor drive it. Log out and pick "
                           "a GNOME or an X11 (Xorg) session at the login screen.")
                   .arg(facts.desktopName);
    return fix;
}

} // namespace

QString screenCaptureTitle(const DesktopFacts& facts) {
    return facts.kind == DesktopKind::gnomeWayland ? QObject::tr("Screen sharing through GNOME")
                                                   : QObject::tr("Screen capture");
}

QString inputControlTitle(const DesktopFacts& facts) {
    return facts.kind == DesktopKind::gnomeWayland ? QObject::tr("Input control through GNOME")
                                                   : QObject::tr("Input control (XTEST)");
}

Fix clipboardTextFix(const DesktopFacts&) {
    Fix fix;
    fix.hint = QObject::tr("This GNOME shares no clipboard with remote-desktop sessions: clipboard text stays on "
                           "each side. Copy and paste through a file, or update GNOME.");
    return fix;
}

Fix screenCaptureFix(const DesktopFacts& facts) {
    Fix fix;
    if (facts.kind == DesktopKind::unsupportedWayland) return unsupportedFix(facts);
    if (facts.kind == DesktopKind::gnomeWayland) {
        fix.hint = QObject::tr("GNOME's screen sharing does not answer the agent. Start the agent inside your "
                               "GNOME session (log out and in again if it goes on):");
        fix.command = restartInSession;
    } else if (facts.sessionType == QLatin1String("wayland")) {
        fix.hint = QObject::tr("Wayland hides the screen from the agent. Pick an Xorg session at the login "
                               "screen, or turn Wayland off for GDM and log in again:");
        fix.command =
            QStringLiteral("sudo sed -i 's/^#\\?WaylandEnable=.*/WaylandEnable=false/' /etc/gdm3/daemon.conf");
    } else if (facts.display.isEmpty()) {
        fix.hint = QObject::tr("The agent was started outside your desktop session. Hand it the display and "
                               "restart it:");
        fix.command = QStringLiteral("systemctl --user import-environment DISPLAY XAUTHORITY && "
                                     "systemctl --user restart com.quendal.dovrel.agent.service");
    } else {
        fix.hint = QObject::tr("The X display %1 does not let the agent in. Allow your own user:").arg(facts.display);
        fix.command = QStringLiteral("xhost +SI:localuser:$USER");
    }
    return fix;
}

Fix inputControlFix(const DesktopFacts& facts, bool screenCaptureWorks) {
    if (!screenCaptureWorks || facts.kind != DesktopKind::x11) return screenCaptureFix(facts);
    Fix fix;
    fix.hint = QObject::tr("The X server runs without XTEST, through which the agent moves the pointer and "
                           "types. Turn it on and restart the session:");
    fix.command = QStringLiteral("printf 'Section \"Extensions\"\\n  Option \"XTEST\" \"Enable\"\\nEndSection\\n' "
                                 "| sudo tee /etc/X11/xorg.conf.d/90-xtest.conf");
    return fix;
}

Fix wakeOnLanFix(const DesktopFacts& facts) {
    Fix fix;
    fix.panelProgram = QStringLiteral("nm-connection-editor");
    fix.hint = QObject::tr("Let the network card wake this computer on a magic packet:");
    const QString interface = facts.wakeInterface.isEmpty() ? QStringLiteral("<interface>") : facts.wakeInterface;
    fix.command = QStringLiteral("sudo ethtool -s %1 wol g").arg(interface);
    return fix;
}

} // namespace dovrel::agent
