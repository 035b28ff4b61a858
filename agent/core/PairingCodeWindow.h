#pragma once

#include <chrono>
#include <optional>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// When a pairing code may pair a controller: while this computer shows the code (its window is open)
// and for ten minutes after it was last shown. Nobody can have read a code that is never shown, so a
// stranger on the same network guessing codes gets nowhere while the window stays closed. Keys that are
// already paired are not affected. Used on one thread ("dovrel.net").
class PairingCodeWindow {
public:
    static constexpr std::chrono::minutes afterShown{10};

    // The code is on the screen from `now` on (`shown`), or no longer (`!shown`).
    void setShown(bool shown, Instant now);
    // The code was shown once at `now` and not kept in view (printed on a terminal).
    void shownOnce(Instant now);
    // A pairing-code proof arriving at `now` counts.
    bool open(Instant now) const;

private:
    bool shown_ = false;
    std::optional<Instant> lastShown_;
};

} // namespace dovrel::agent
