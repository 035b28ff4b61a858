#pragma once

#include <cstdint>
#include <optional>

#include <QMetaObject>
#include <QPointF>
#include <QPointer>
#include <QQuickItem>
#include <QRectF>

#include "controller/client/input/RemoteInput.h"

namespace dovrel::controller {

// The transparent item over the remote picture that turns the local mouse, wheel, keyboard and input
// method into remote input. It lies over the video item with the same geometry: the pointer maps
// absolutely onto the picture where that item draws it (fitted, letter- or pillar-boxed), a pointer
// over the bars or beyond the edge landing on the picture's edge. Before the first picture the whole
// item stands for a 1470 x 956 screen.
//
// Clicks are counted here (presses of the left button close in time and place); a double click is
// finished at its second press. Keys without Control or Super go as the text they make, except the
// special keys (Return, Tab, Escape, arrows, …); chords and special keys go as keys by where they sit
// on the keyboard, with the held modifiers in their modifier byte (`RemoteInput` says why every key
// event carries it). Modifier keys are mirrored on the remote machine as they go down and up, so Shift
// or Control held with a click or a drag, and Alt with a letter, reach it; they are let go of when the
// item loses focus, the window goes inactive or the item goes away. A wheel notch goes as
// `wex::ScrollEvent::notch`, a touchpad's pixels in eighths.
//
// The pointer follows the mouse only while the window is active, and only when the mouse moved on the
// screen: Qt hovers again at a resting pointer whenever the scene changes under it (every frame of a
// moving picture, the item appearing under it as a session opens, moving as the picture is fitted),
// which is no move and no sign of the user; the first hover the item sees, and the first after it was
// disabled, only tells where the pointer rests. Disabled (the session window disables it while
// something of its own covers the picture, a dialog or a panel), it sends nothing and lets go of what
// is held; enabled again, it takes the keyboard back.
class InputCaptureItem : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(dovrel::controller::RemoteInput* input READ input WRITE setInput NOTIFY inputChanged)

public:
    // The screen a pointer maps onto before the first picture.
    static constexpr double defaultWidth = 1470, defaultHeight = 956;

    explicit InputCaptureItem(QQuickItem* parent = nullptr);
    ~InputCaptureItem() override;

    RemoteInput* input() const { return input_; }
    void setInput(RemoteInput* input);

    // Where the remote picture is, in item coordinates: the fitted picture once its size is known,
    // else the whole item.
    QRectF pictureArea() const;

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

signals:
    void inputChanged();
    // Every pointer position over the item, in item coordinates (for the cursor marker).
    void pointerMoved(QPointF point);
    // Left and right presses, in item coordinates (for the click ripple).
    void clicked(QPointF point);

protected:
    bool event(QEvent* event) override;
    void hoverEnterEvent(QHoverEvent* event) override;
    void hoverMoveEvent(QHoverEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseUngrabEvent() override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;

private:
    void mapAndMove(QPointF point);
    void hoverTo(const QHoverEvent* event);
    void press(QMouseEvent* event);
    int countClick(const QMouseEvent* event);
    void syncModifiers(const QKeyEvent* event, bool press);
    void releaseHeld();

    QPointer<RemoteInput> input_;
    QMetaObject::Connection activeConnection_;
    // Where on the screen the pointer was at the last event the item saw; none before the first, and
    // again none once the item was disabled.
    std::optional<QPointF> lastPointer_;
    bool pressActive_ = false;
    // The last left press, for counting clicks.
    quint64 lastPressAt_ = 0;
    QPointF lastPressPoint_;
    int clickCount_ = 0;
    // The press a double-click event repeats (Qt sends both for one press).
    quint64 handledPressAt_ = 0;
    bool anyPressHandled_ = false;
};

} // namespace dovrel::controller
