#include "controller/ui/session/InteractionModel.h"

namespace dovrel::controller {

InteractionModel::InteractionModel(Scheduler& clock, QColor accent, QObject* parent)
    : QObject(parent), clock_(clock), accent_(accent) {}

InteractionModel::~InteractionModel() = default;

QString InteractionModel::nameOf(CursorMode mode) {
    switch (mode) {
    case CursorMode::direct: return QStringLiteral("direct");
    case CursorMode::relative: return QStringLiteral("relative");
    case CursorMode::hybrid: return QStringLiteral("hybrid");
    }
    return QStringLiteral("hybrid");
}

QStringList InteractionModel::modes() const {
    return {nameOf(CursorMode::direct), nameOf(CursorMode::relative), nameOf(CursorMode::hybrid)};
}

void InteractionModel::setMode(const QString& name) {
    for (CursorMode m : {CursorMode::direct, CursorMode::relative, CursorMode::hybrid}) {
        if (nameOf(m) != name) continue;
        if (m == mode_) return;
        mode_ = m;
        emit modeChanged();
        return;
    }
}

void InteractionModel::setDragLock(bool on) {
    if (on == dragLock_) return;
    dragLock_ = on;
    emit dragLockChanged();
}

void InteractionModel::pointerAt(QPointF point) {
    if (point != cursorScreen_) {
        cursorScreen_ = point;
        emit cursorScreenChanged();
    }
    if (!pointerSeen_) {
        pointerSeen_ = true;
        if (pictureShown_) emit showCursorMarkerChanged();
    }
}

void InteractionModel::clickAt(QPointF point) {
    if (!pictureShown_) return;
    const QUuid id = QUuid::createUuid();
    ripple_ = Ripple{id, point, accent_, QStringLiteral("left")};
    emit rippleChanged();
    // Only this ripple goes when its time is up; a later click's stays.
    rippleTimer_ = clock_.after(rippleLifetime, [this, id] {
        if (!ripple_ || ripple_->id != id) return;
        ripple_.reset();
        emit rippleChanged();
    });
}

void InteractionModel::reset() {
    setMode(nameOf(CursorMode::hybrid));
    setDragLock(false);
    rippleTimer_.reset();
    if (ripple_) {
        ripple_.reset();
        emit rippleChanged();
    }
    if (pointerSeen_) {
        pointerSeen_ = false;
        if (pictureShown_) emit showCursorMarkerChanged();
    }
    if (cursorScreen_ != QPointF(0, 0)) {
        cursorScreen_ = QPointF(0, 0);
        emit cursorScreenChanged();
    }
}

void InteractionModel::setPictureShown(bool shown) {
    if (shown == pictureShown_) return;
    pictureShown_ = shown;
    if (pointerSeen_) emit showCursorMarkerChanged();
    if (!shown && ripple_) {
        rippleTimer_.reset();
        ripple_.reset();
        emit rippleChanged();
    }
}

} // namespace dovrel::controller
