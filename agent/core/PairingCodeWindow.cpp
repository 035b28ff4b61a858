#include "agent/core/PairingCodeWindow.h"

namespace dovrel::agent {

void PairingCodeWindow::setShown(bool shown, Instant now) {
    // Hiding counts as the last moment it was seen; showing keeps it open for as long as it lasts.
    if (shown_ || shown) lastShown_ = now;
    shown_ = shown;
}

void PairingCodeWindow::shownOnce(Instant now) {
    if (!lastShown_ || *lastShown_ < now) lastShown_ = now;
}

bool PairingCodeWindow::open(Instant now) const {
    if (shown_) return true;
    return lastShown_ && now - *lastShown_ <= afterShown;
}

} // namespace dovrel::agent
