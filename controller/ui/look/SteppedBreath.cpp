#include "controller/ui/look/SteppedBreath.h"

#include <cmath>

#include "controller/ui/look/MotionGate.h"

namespace dovrel::controller {

using std::chrono::milliseconds;

SteppedBreath::SteppedBreath(QObject* parent) : QObject(parent) {
    ticks_.setSingleShot(true);
    ticks_.setTimerType(Qt::PreciseTimer);
    connect(&ticks_, &QTimer::timeout, this, &SteppedBreath::takeTick);
}

SteppedBreath::~SteppedBreath() = default;

void SteppedBreath::componentComplete() {
    // Made now that the item it is declared in is its parent; owned here, it goes with the breath.
    gate_ = new MotionGate(this);
    connect(gate_, &MotionGate::shownChanged, this, &SteppedBreath::reconsider);
    reconsider();
}

void SteppedBreath::setRunning(bool on) {
    if (on == running_) return;
    running_ = on;
    emit runningChanged();
    reconsider();
}

void SteppedBreath::setDuration(int ms) {
    if (ms == duration_) return;
    duration_ = ms;
    emit durationChanged();
}

double SteppedBreath::levelAt(milliseconds time, milliseconds duration) {
    if (duration.count() <= 0 || time.count() <= 0) return 0;
    const auto way = static_cast<double>(duration.count());
    const double along = std::fmod(static_cast<double>(time.count()), 2 * way) / way; // 0..2
    const double t = along <= 1 ? along : 2 - along;
    const double eased = t < 0.5 ? 2 * t * t : 1 - (2 - 2 * t) * (2 - 2 * t) / 2;
    return std::round(eased * steps) / steps;
}

void SteppedBreath::reconsider() {
    const bool breathing = running_ && gate_ && gate_->shown();
    if (breathing == breathing_) return;
    breathing_ = breathing;
    if (breathing) {
        takeTick();
    } else {
        ticks_.stop();
        setLevel(0);
    }
    emit breathingChanged();
}

void SteppedBreath::takeTick() {
    const auto now = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    setLevel(levelAt(now, milliseconds(duration_)));
    ticks_.start(tick - now % tick);
}

void SteppedBreath::setLevel(double level) {
    if (level == level_) return;
    level_ = level;
    emit levelChanged();
}

} // namespace dovrel::controller
