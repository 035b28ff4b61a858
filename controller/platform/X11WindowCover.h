#pragma once

#include <cstdint>

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWindow>

#include "controller/platform/WindowCover.h"

namespace dovrel::controller {

// Keeps a window's covered mark (windowCoveredProperty) as the X server tells it: the window asks for
// its visibility changes, and a "fully obscured" marks it covered until any part shows again. A
// compositing window manager tells nothing of the kind (every window counts as unobscured there), nor
// does any desktop but X11; then the mark is never set, and the desktop's own exposure is all there is.
// Main thread.
class X11WindowCover final : public QAbstractNativeEventFilter {
public:
    // Watches `window` when the application draws on an X server; does nothing elsewhere.
    explicit X11WindowCover(QWindow& window);
    ~X11WindowCover() override;
    X11WindowCover(const X11WindowCover&) = delete;
    X11WindowCover& operator=(const X11WindowCover&) = delete;

    bool watching() const { return xid_ != 0; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QPointer<QWindow> window_;
    uint32_t xid_ = 0;
};

} // namespace dovrel::controller
