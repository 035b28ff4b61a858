#pragma once

#include <QString>
#include <QStringList>

#include "agent/shell/DesktopBackend.h"

namespace dovrel::agent {

// What the session looks like to the window's permission and wake rows.
struct DesktopFacts {
    QString display;                     // $DISPLAY; empty when the agent was started outside the desktop session
    QString sessionType;                 // $XDG_SESSION_TYPE ("x11", "wayland", or empty)
    QString wakeInterface;               // the primary interface (the default route's); empty when unknown
    DesktopKind kind = DesktopKind::x11; // the backend the agent runs
    QString desktopName;                 // how texts name the desktop (an unsupported one above all)
};

// How to turn a missing capability on: a settings panel to open where the desktop has one, else a
// command for a terminal, with one line that says why.
struct Fix {
    QString panelProgram; // empty: no panel
    QStringList panelArgs;
    QString hint;
    QString command;
};

// Seeing the screen needs an X session the agent can reach, or GNOME's screen sharing on Wayland.
Fix screenCaptureFix(const DesktopFacts& facts);
// Driving the pointer and keyboard needs the X server's XTEST extension (and, first, the display), or
// GNOME's remote desktop on Wayland.
Fix inputControlFix(const DesktopFacts& facts, bool screenCaptureWorks);
// Clipboard text on GNOME's Wayland session needs the remote desktop's clipboard calls.
Fix clipboardTextFix(const DesktopFacts& facts);
// The titles of the screen and input rows for the desktop the agent runs on.
QString screenCaptureTitle(const DesktopFacts& facts);
QString inputControlTitle(const DesktopFacts& facts);
// Waking on a magic packet is the interface's "Wake-on" setting: NetworkManager's connection editor
// sets it (Ethernet ▸ Wake on LAN), ethtool does too.
Fix wakeOnLanFix(const DesktopFacts& facts);

} // namespace dovrel::agent
