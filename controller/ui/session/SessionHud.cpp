#include "controller/ui/session/SessionHud.h"

namespace dovrel::controller {

SessionHud::SessionHud(Scheduler& clock, QObject* parent) : QObject(parent), clock_(clock) {}

SessionHud::~SessionHud() = default;

void SessionHud::setBright(bool on) {
    if (on == bright_) return;
    bright_ = on;
    emit brightChanged();
    emit topRowShownChanged();
}

void SessionHud::setBanded(bool banded) {
    if (banded == banded_) return;
    banded_ = banded;
    emit topRowShownChanged();
}

void SessionHud::setWheelOpen(bool open) {
    if (open == wheelOpen_) return;
    wheelOpen_ = open;
    emit wheelOpenChanged();
    emit pictureCoveredChanged();
}

void SessionHud::setShowMonitors(bool on) {
    if (on == showMonitors_) return;
    showMonitors_ = on;
    emit showMonitorsChanged();
    emit pictureCoveredChanged();
}

void SessionHud::setShowGuide(bool on) {
    if (on == showGuide_) return;
    showGuide_ = on;
    emit showGuideChanged();
    emit pictureCoveredChanged();
}

void SessionHud::setAssistantOpen(bool on) {
    if (on == assistantOpen_) return;
    assistantOpen_ = on;
    emit assistantOpenChanged();
}

void SessionHud::setDialogOpen(bool open) {
    if (open == dialogOpen_) return;
    dialogOpen_ = open;
    emit dialogOpenChanged();
    emit pictureCoveredChanged();
}

void SessionHud::interact() {
    setBright(true);
    if (held_) {
        idle_.reset();
        return;
    }
    idle_ = clock_.after(dimAfter, [this] {
        // With the wheel open the controls stay bright until a later interaction's time runs out.
        if (!wheelOpen_ && !held_) setBright(false);
    });
}

void SessionHud::setHeld(bool held) {
    if (held == held_) return;
    held_ = held;
    interact();
}

void SessionHud::toggleWheel() {
    setWheelOpen(!wheelOpen_);
    interact();
}

void SessionHud::reset() {
    idle_.reset();
    setWheelOpen(false);
    setShowMonitors(false);
    setShowGuide(false);
    setAssistantOpen(false);
    setDialogOpen(false);
    setBright(true);
}

} // namespace dovrel::controller
