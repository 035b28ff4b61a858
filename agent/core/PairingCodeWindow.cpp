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

void PairingCodeWindow::shared(std::string code, Instant until) { share_ = Share{std::move(code), until}; }

bool PairingCodeWindow::counts(std::string_view code, Instant now) const {
    if (shown_ || (lastShown_ && now - *lastShown_ <= afterShown)) return true;
    return share_ && share_->code == code && now <= share_->until;
}

} // namespace dovrel::agent
