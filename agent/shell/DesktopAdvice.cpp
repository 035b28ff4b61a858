#include "agent/shell/DesktopAdvice.h"

#include <QObject>

namespace dovrel::agent {

Fix screenCaptureFix(const DesktopFacts& facts) {
    Fix fix;
    if (facts.sessionType == QLatin1String("wayland")) {
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
    if (!screenCaptureWorks) return screenCaptureFix(facts);
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
