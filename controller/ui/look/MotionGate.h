#pragma once

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

class QQuickItem;
class QQuickWindow;
class QWindow;

namespace dovrel::controller {

// When an item's motion can be seen, attached to any item as `Motion.shown`: the item and every item
// above it are visible, and it sits in a window that is on the screen: shown, exposed, not minimised,
// and not fully covered (GNOME's Wayland session draws no frame of a covered window by itself; an X
// server without a compositor says it through the window's covered mark, windowCoveredProperty). Qt
// Quick draws the whole window again for every step of any animation that runs, seen or not, so every
// repeating animation runs only while `shown` holds; one left running behind a hidden overlay kept the
// render loop drawing at the display's rate for a whole session. Attached to an object that is not an
// item (an animation), it follows the nearest item among the object's parents.
class MotionGate : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Motion)
    QML_UNCREATABLE("Motion is attached to an item: Motion.shown")
    QML_ATTACHED(dovrel::controller::MotionGate) // qualified: the tools resolve it by this name
    Q_PROPERTY(bool shown READ shown NOTIFY shownChanged)

public:
    explicit MotionGate(QObject* attachee);

    static MotionGate* qmlAttachedProperties(QObject* object) { return new MotionGate(object); }

    bool shown() const { return shown_; }

    // Whether what `window` draws reaches the screen.
    static bool onScreen(const QWindow& window);

signals:
    void shownChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(QQuickWindow* window);
    void reconsider();

    QPointer<QQuickItem> item_;
    QPointer<QQuickWindow> window_;
    QMetaObject::Connection windowVisibility_;
    bool shown_ = false;
};

} // namespace dovrel::controller
