#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace dovrel::controller {

// The launch arguments scripts and tests drive the controller with, read once at start-up and handed
// to whoever needs them. A switch counts only when an argument equals it exactly; a switch that takes
// a value takes the argument after the first occurrence, whatever it is, and counts as absent when it
// is the last argument.
struct LaunchArguments {
    // What the root view dials on its own when it first appears: "-autoHost" wins over "-autoRelay",
    // which wins over "-autoLink".
    enum class AutoConnect { none, host, relay, link };

    std::optional<QString> autoHost;    // "-autoHost HOST": a local-network session to that host
    std::optional<QString> autoRelay;   // "-autoRelay ROOM": a relay session to that agent
    std::optional<QString> autoLink;    // "-autoLink LINK": pair with the machine a pairing link names
    std::optional<QString> pairingCode; // "-pairingCode CODE": for "-autoHost" and "-autoRelay" only
    bool demo = false;                  // "-demo": cards open demo sessions and never dial
    bool storeDemo = false;             // "-DovrelDemo": the saved machines start as the sample deck
    // "-windowSnapshot PATH": saves a picture of the window there every few seconds (scripts without a
    // display look at the controller this way).
    std::optional<QString> windowSnapshot;
    // What was asked that cannot be done, each as a sentence for the log and the window: a switch with
    // no value after it, one that loses to another, a code with nothing to go with.
    QStringList problems;

    static LaunchArguments parse(const QStringList& arguments);

    AutoConnect autoConnect() const;

    // The value of a switch by the rule above; nothing when absent or last.
    static std::optional<QString> valueOf(const QStringList& arguments, const QString& name);
};

} // namespace dovrel::controller
