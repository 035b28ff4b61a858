#include "controller/ui/session/InputCaptureItem.h"

#include <algorithm>
#include <cmath>

#include <QGuiApplication>
#include <QQuickWindow>
#include <QStyleHints>

#include "controller/ui/session/KeyTable.h"
#include "controller/ui/session/VideoSurfaceItem.h"

namespace dovrel::controller {

namespace {

uint16_t maskOf(Qt::KeyboardModifiers m) {
    uint16_t mask = 0;
    if (m & Qt::ShiftModifier) mask |= RemoteInput::shift;
    if (m & Qt::ControlModifier) mask |= RemoteInput::control;
    if (m & Qt::AltModifier) mask |= RemoteInput::option;
    if (m & Qt::MetaModifier) mask |= RemoteInput::command;
    return mask;
}

// The modifier bit a modifier key stands for; 0 for every other key.
uint16_t modifierBitOfKey(int key) {
    switch (key) {
    case Qt::Key_Shift: return RemoteInput::shift;
    case Qt::Key_Control: return RemoteInput::control;
    case Qt::Key_Alt: return RemoteInput::option;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R: return RemoteInput::command;
    default: return 0;
    }
}

// The text a key press makes, without control characters. A chord whose text is only a control
// character (Control+[ makes Escape's) stands for the key's own character.
QString printableText(const QKeyEvent* event, bool chord) {
    QString text = event->text();
    text.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    if (text.isEmpty() && chord && event->key() >= 0x21 && event->key() <= 0x7E)
        text = QString(QChar(event->key())).toLower();
    return text;
}

// Where a pointer `at` along one axis of a picture drawn from `from` over `length` lands on a remote
// screen `remote` pixels long: the window's pixels are matched by their centres with the remote's, the
// first with the first and the last with the last, evenly between. Scaled up or down, both edges of the
// remote screen are in reach; matched by proportion alone, a window pixel that shows exactly two remote
// ones would have its centre between them, and one of the two edges could never be reached.
double remotePixel(double at, double from, double length, double pixel, double remote) {
    const double span = length - pixel; // from the first pixel's position to the last's
    if (span <= 0 || remote <= 1) return 0;
    return std::clamp(std::round((at - from) / span * (remote - 1)), 0.0, remote - 1);
}

} // namespace

InputCaptureItem::InputCaptureItem(QQuickItem* parent) : QQuickItem(parent) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::AllButtons);
    setFlag(ItemAcceptsInputMethod, true);
    // Keyboard focus as soon as the item is in a window, and again at every press.
    setFocus(true);
}

InputCaptureItem::~InputCaptureItem() {
    QObject::disconnect(activeConnection_);
    releaseHeld();
}

void InputCaptureItem::setInput(RemoteInput* input) {
    if (input == input_) return;
    releaseHeld();
    input_ = input;
    emit inputChanged();
}

QRectF InputCaptureItem::pictureArea() const {
    const QSizeF remote = input_ ? input_->remoteSize() : QSizeF();
    if (remote.isEmpty()) return boundingRect();
    const QRectF fitted = VideoSurfaceItem::fitted(remote, size());
    return fitted.isEmpty() ? boundingRect() : fitted;
}

void InputCaptureItem::mapAndMove(QPointF point) {
    emit pointerMoved(point);
    if (width() <= 1 || height() <= 1 || !input_) return;
    const QRectF area = pictureArea();
    QSizeF remote = input_->remoteSize();
    if (remote.width() == 0 && remote.height() == 0) remote = QSizeF(defaultWidth, defaultHeight);
    const double pixel = window() ? 1.0 / window()->effectiveDevicePixelRatio() : 1.0;
    input_->pointerTo(QPointF(remotePixel(point.x(), area.left(), area.width(), pixel, remote.width()),
                              remotePixel(point.y(), area.top(), area.height(), pixel, remote.height())));
}

int InputCaptureItem::countClick(const QMouseEvent* event) {
    const QStyleHints* hints = QGuiApplication::styleHints();
    const quint64 at = event->timestamp();
    const QPointF point = event->position();
    const bool again = clickCount_ > 0 && at >= lastPressAt_ &&
                       at - lastPressAt_ <= static_cast<quint64>(hints->mouseDoubleClickInterval()) &&
                       (point - lastPressPoint_).manhattanLength() <= hints->mouseDoubleClickDistance();
    clickCount_ = again ? clickCount_ + 1 : 1;
    lastPressAt_ = at;
    lastPressPoint_ = point;
    return clickCount_;
}

void InputCaptureItem::press(QMouseEvent* event) {
    event->accept();
    anyPressHandled_ = true;
    handledPressAt_ = event->timestamp();
    if (!hasActiveFocus()) forceActiveFocus(Qt::MouseFocusReason);
    const QPointF point = event->position();
    lastPointer_ = event->globalPosition();
    mapAndMove(point);
    switch (event->button()) {
    case Qt::LeftButton: {
        emit clicked(point);
        const int count = countClick(event);
        if (!input_) return;
        if (count < 2) {
            input_->mouseDown(1);
            pressActive_ = true;
        } else {
            // Finished at the press: its release sends nothing.
            input_->click(1, std::min(count, 3));
            pressActive_ = false;
        }
        return;
    }
    case Qt::RightButton:
        clickCount_ = 0;
        emit clicked(point);
        if (input_) input_->click(2, 1);
        return;
    default:
        clickCount_ = 0;
        if (input_) input_->click(3, 1);
        return;
    }
}

void InputCaptureItem::mousePressEvent(QMouseEvent* event) { press(event); }

void InputCaptureItem::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt follows a second press with a double-click event: the press was counted already.
    if (anyPressHandled_ && event->timestamp() == handledPressAt_) {
        event->accept();
        return;
    }
    press(event);
}

void InputCaptureItem::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    lastPointer_ = event->globalPosition();
    mapAndMove(event->position());
}

void InputCaptureItem::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !pressActive_) return;
    pressActive_ = false;
    if (input_) input_->mouseUp(1);
}

void InputCaptureItem::mouseUngrabEvent() {
    // Another item took the mouse in the middle of a press: its release will not come here.
    if (!pressActive_) return;
    pressActive_ = false;
    if (input_) input_->mouseUp(1);
}

void InputCaptureItem::hoverTo(const QHoverEvent* event) {
    // Qt hovers disabled items too.
    if (!isEnabled()) return;
    // Compared on the screen: a hover at a resting pointer has another place in the item once the item
    // moved under it.
    const bool moved = lastPointer_ && event->globalPosition() != *lastPointer_;
    lastPointer_ = event->globalPosition();
    const QQuickWindow* w = window();
    if (moved && w && w->isActive()) mapAndMove(event->position());
}

void InputCaptureItem::hoverEnterEvent(QHoverEvent* event) { hoverTo(event); }

void InputCaptureItem::hoverMoveEvent(QHoverEvent* event) { hoverTo(event); }

void InputCaptureItem::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (!input_) return;
    // A touchpad's deltas are pixels, sent in eighths; a wheel notch (120 in Qt's eighths of a degree)
    // goes as the notch both programs agree on, which the agent turns into one click.
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    const bool precise = !pixels.isNull();
    constexpr int qtNotch = 120;
    const int dx =
        precise ? pixels.x() * wex::ScrollEvent::unitsPerPixel : angle.x() * wex::ScrollEvent::notch / qtNotch;
    const int dy =
        precise ? pixels.y() * wex::ScrollEvent::unitsPerPixel : angle.y() * wex::ScrollEvent::notch / qtNotch;
    if (dx == 0 && dy == 0) return;
    input_->scroll(dx, dy);
}

bool InputCaptureItem::event(QEvent* event) {
    // Every key belongs to the remote machine, shortcuts of this window included.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QQuickItem::event(event);
}

void InputCaptureItem::syncModifiers(const QKeyEvent* event, bool press) {
    uint16_t mask = maskOf(event->modifiers());
    // Whether a modifier key's own event already counts it differs between platforms: its direction decides.
    if (const uint16_t bit = modifierBitOfKey(event->key()))
        mask = static_cast<uint16_t>(press ? mask | bit : mask & ~bit);
    input_->setModifiers(mask);
}

void InputCaptureItem::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (!input_) return;
    syncModifiers(event, true);
    if (modifierBitOfKey(event->key())) return;
    const uint16_t mask = maskOf(event->modifiers());
    const bool chord = (mask & (RemoteInput::control | RemoteInput::command)) != 0;
    const auto usage = hidUsageForKey(event->nativeScanCode(), event->key());
    const bool special = usage && isSpecialKey(*usage);
    const QString text = printableText(event, chord);
    if (!chord && !special) {
        if (!text.isEmpty())
            input_->typeText(text);
        else if (usage)
            input_->sendKey(*usage, 0);
        return;
    }
    // A chord or a special key carries the modifiers held with it (Ctrl+C, Shift+Tab): an agent that
    // never holds a modifier key sent alone presses them around the stroke.
    if (usage)
        input_->sendKey(*usage, mask);
    else if (!text.isEmpty())
        input_->typeText(text);
}

void InputCaptureItem::keyReleaseEvent(QKeyEvent* event) {
    // The client releases each key itself; only modifiers change here.
    event->accept();
    if (input_) syncModifiers(event, false);
}

void InputCaptureItem::inputMethodEvent(QInputMethodEvent* event) {
    event->accept();
    if (input_ && !event->commitString().isEmpty()) input_->typeText(event->commitString());
}

QVariant InputCaptureItem::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled: return true;
    case Qt::ImHints: return static_cast<int>(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    case Qt::ImCursorRectangle: return QRectF(0, 0, 1, 1);
    default: return QQuickItem::inputMethodQuery(query);
    }
}

void InputCaptureItem::focusOutEvent(QFocusEvent* event) {
    QQuickItem::focusOutEvent(event);
    releaseHeld();
}

void InputCaptureItem::itemChange(ItemChange change, const ItemChangeData& value) {
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange) {
        QObject::disconnect(activeConnection_);
        releaseHeld();
        if (QQuickWindow* w = value.window)
            activeConnection_ = connect(w, &QWindow::activeChanged, this, [this, w] {
                if (!w->isActive()) releaseHeld();
            });
    } else if (change == ItemVisibleHasChanged && !value.boolValue) {
        releaseHeld();
    } else if (change == ItemEnabledHasChanged) {
        // What covered the picture had the pointer meanwhile: where it rests now is no move.
        lastPointer_.reset();
        // The keyboard comes back with it, unless something else of the window took it meanwhile.
        if (!value.boolValue)
            releaseHeld();
        else if (hasFocus() && !hasActiveFocus() && isVisible())
            forceActiveFocus(Qt::OtherFocusReason);
    }
}

void InputCaptureItem::releaseHeld() {
    pressActive_ = false;
    if (input_) input_->releaseHeld();
}

} // namespace dovrel::controller
