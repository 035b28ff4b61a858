#pragma once

#include <QString>

#include "controller/services/Device.h"

namespace dovrel::controller {

// What a machine card shows for one machine, worked out from its saved values alone.
struct MachineCardFace {
    // The thumbnail's middle layer, first match wins.
    enum class Thumbnail { offline, frost, demo, prompt };

    QString kindSymbol; // machineSymbol: the machine's shape or platform
    QString stateWord;  // "awake", "asleep", "offline", "DOVRELÆ isn’t running"
    QString tone;       // the status dot: "good", "warn", "dim"; "stopped", a ring of its own
    QString lastSeen;   // empty: no last-seen text
    Thumbnail thumbnail = Thumbnail::prompt;
    QString promptGlyph; // the connect prompt's symbol
    QString promptText;  // "Click to control", "Click to wake & connect", "Click to connect", or how to start it
    bool breathes = false;
    bool showsStats = false;
    bool showsSparkline = false;
    bool opens = false;                      // a click opens a session
    bool wakesFirst = false;                 // a click sends a wake packet before connecting
    QString cpuText, ramText, batteryText;   // batteryText empty: no battery row
    QString frostTitle, frostSymbol;         // the back's frost tile
    QString frostMenuTitle, frostMenuSymbol; // the context menu's frost entry

    bool operator==(const MachineCardFace&) const = default;
};

// `demo`: the deck shows sample machines (their thumbnails show the demo desktop).
MachineCardFace machineCardFace(const Device& device, bool demo);

// A fraction as a whole percentage, truncated toward zero: 0.427 -> "42%", 1.0 -> "100%".
QString percentText(double fraction);

} // namespace dovrel::controller
