#include "agent/media/PictureGate.h"

#include <utility>

#include "agent/media/ScreenCapturer.h"

namespace dovrel::agent {

void PictureGate::setRate(int fps, int captureFps) {
    const Duration interval = fps >= captureFps ? Duration{} : captureInterval(fps);
    if (interval == interval_) return;
    interval_ = interval;
    slot_ = {}; // a new grid from the next picture; one waiting goes at once
}

void PictureGate::take(Instant at) {
    if (at - slot_ > interval_ / 2) slot_ = at; // off the grid (a still screen, a late picture): a new one
    slot_ += interval_;
}

bool PictureGate::offer(const CapturedFrame& frame) {
    if (interval_ > Duration{} && frame.capturedAt < opens()) {
        held_ = frame;
        return false;
    }
    held_.reset();
    take(frame.capturedAt);
    return true;
}

std::optional<Instant> PictureGate::heldUntil() const {
    if (!held_) return std::nullopt;
    return slot_ + interval_ / 8;
}

std::optional<CapturedFrame> PictureGate::release(Instant now) {
    if (!held_ || now < opens()) return std::nullopt;
    take(now);
    return std::exchange(held_, std::nullopt);
}

} // namespace dovrel::agent
