#include "controller/ui/look/MotionGate.h"

#include <QEvent>
#include <QQuickItem>
#include <QQuickWindow>

#include "controller/platform/WindowCover.h"

namespace dovrel::controller {

namespace {

QQuickItem* nearestItem(QObject* object) {
    for (QObject* o = object; o; o = o->parent())
        if (auto* item = qobject_cast<QQuickItem*>(o)) return item;
    return nullptr;
}

} // namespace

MotionGate::MotionGate(QObject* attachee) : QObject(attachee), item_(nearestItem(attachee)) {
    if (!item_) return;
    connect(item_, &QQuickItem::visibleChanged, this, &MotionGate::reconsider);
    connect(item_, &QQuickItem::windowChanged, this, &MotionGate::follow);
    follow(item_->window());
}

bool MotionGate::onScreen(const QWindow& window) {
    return window.isVisible() && window.isExposed() && window.visibility() != QWindow::Minimized &&
           !window.property(windowCoveredProperty).toBool();
}

void MotionGate::follow(QQuickWindow* window) {
    if (window == window_) return;
    if (window_) {
        window_->removeEventFilter(this);
        disconnect(windowVisibility_);
    }
    window_ = window;
    if (window_) {
        // Exposure and the covered mark have no signals of their own: the window learns of each by an event.
        window_->installEventFilter(this);
        windowVisibility_ = connect(window_, &QWindow::visibilityChanged, this, &MotionGate::reconsider);
    }
    reconsider();
}

bool MotionGate::eventFilter(QObject* watched, QEvent* event) {
    // The window's exposure is already updated when its event is delivered.
    if (watched != window_) return false;
    if (event->type() == QEvent::Expose ||
        (event->type() == QEvent::DynamicPropertyChange &&
         static_cast<QDynamicPropertyChangeEvent*>(event)->propertyName() == windowCoveredProperty))
        reconsider();
    return false;
}

void MotionGate::reconsider() {
    const bool shown = item_ && item_->isVisible() && window_ && onScreen(*window_);
    if (shown == shown_) return;
    shown_ = shown;
    emit shownChanged();
}

} // namespace dovrel::controller
