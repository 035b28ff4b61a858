#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

namespace dovrel::agent {

// Desktop actions a controller may ask for. Both return at once: the work runs on the desktop's own
// thread, so "dovrel.net" never waits on a D-Bus service or a child process.
class DesktopSession {
public:
    virtual ~DesktopSession() = default;
    // Locks the user's session, and only then turns the display off. When nothing locked it, `notLocked`
    // gets plain words for the controller (on the desktop's thread); a lock is never reported that did
    // not happen.
    using NotLocked = std::function<void(const std::string& why)>;
    virtual void lockAndTurnDisplayOff(NotLocked notLocked) = 0;
    // Shows the desktop's application overview; where there is none, opens the applications folder.
    virtual void showLauncher() = 0;
    // Shows the desktop's overview of its open windows where it has one; else says so in the log.
    virtual void showWindowOverview() = 0;
};

struct LinuxDesktopOptions {
    // Empty: the standard system and session buses.
    QString systemBusAddress;
    QString sessionBusAddress;
    // Turns the display off; false with the reason in `why`. Null: DPMS on the X display.
    std::function<bool(std::string& why)> turnDisplayOff;
    // Opened when the desktop has no application overview to show.
    QString folderOpener = QStringLiteral("xdg-open");
    QStringList folderArguments = {QStringLiteral("/usr/share/applications")};
    int dbusTimeoutMs = 3000;
    // Lockers of the desktop, program and arguments, tried where installed when neither logind nor the
    // screensaver service locked the session. Unset: the common desktops' own.
    std::optional<std::vector<QStringList>> lockCommands;
    // How long a locker has to show the session as locked before the next way is tried.
    std::chrono::milliseconds lockConfirmWithin{3000};
};

// Locks through logind (the caller's session, else the user's graphical one), else through the
// desktop's screensaver service, else through the desktop's locker commands, each time checking that
// the session really locked; turns the display off through DPMS; shows GNOME Shell's application
// overview, else opens the applications folder; shows GNOME Shell's or KWin's window overview.
std::unique_ptr<DesktopSession> makeLinuxDesktopSession(LinuxDesktopOptions options = {});

// DPMS "off" on the X display named by $DISPLAY.
bool turnX11DisplayOff(std::string& why);

} // namespace dovrel::agent
