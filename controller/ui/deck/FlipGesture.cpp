#include "controller/ui/deck/FlipGesture.h"

#include <QLineF>

namespace dovrel::controller {

void FlipGesture::setFlipped(bool on) {
    if (on == flipped_) return;
    flipped_ = on;
    emit flippedChanged();
}

void FlipGesture::press(double x, double y) {
    origin_ = QPointF(x, y);
    pressed_ = true;
    strayed_ = false;
    fired_ = false;
}

void FlipGesture::move(double x, double y) {
    if (pressed_ && QLineF(origin_, QPointF(x, y)).length() > slop) strayed_ = true;
}

bool FlipGesture::held() {
    if (!pressed_ || strayed_ || fired_) return false;
    fired_ = true;
    setFlipped(!flipped_);
    return true;
}

bool FlipGesture::release() {
    const bool click = pressed_ && !fired_;
    pressed_ = false;
    return click;
}

void FlipGesture::close() { setFlipped(false); }

} // namespace dovrel::controller
