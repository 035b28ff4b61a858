#pragma once

#include <optional>

#include "agent/media/CapturedFrame.h"

namespace dovrel::agent {

// Hands captured pictures on at a lower rate than they come, evenly spaced by their capture times rather
// than every so many: a picture that comes before its slot waits for it, replaced by any newer one, so
// that the last change of a screen that then stands still comes in its slot instead of being lost. The
// capture keeps its own rate meanwhile (on GNOME a new capture rate is a new connection to the
// compositor's stream), so a step of the send rate costs the capture nothing. One thread at a time.
class PictureGate {
public:
    // `fps` pictures a second of the `captureFps` that come; every picture when `fps` is not below it.
    void setRate(int fps, int captureFps);
    // Whether `frame` goes on now; otherwise it waits for its slot (heldUntil).
    bool offer(const CapturedFrame& frame);
    // When the waiting picture is to go, unless a newer one takes the slot first; nullopt when none waits.
    std::optional<Instant> heldUntil() const;
    // The waiting picture, once its slot has come at `now`.
    std::optional<CapturedFrame> release(Instant now);

private:
    // A picture within an eighth of an interval of its slot takes it, since capture times jitter; one
    // that waits goes that long after the slot, so that a picture captured in time for it goes instead.
    Instant opens() const { return slot_ - interval_ / 8; }
    void take(Instant at);

    Duration interval_{}; // zero: every picture goes
    Instant slot_{};
    std::optional<CapturedFrame> held_;
};

} // namespace dovrel::agent
