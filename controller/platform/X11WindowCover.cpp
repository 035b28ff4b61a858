#include "controller/platform/X11WindowCover.h"

#include <cstdlib>
#include <memory>

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

namespace dovrel::controller {

X11WindowCover::X11WindowCover(QWindow& window) : window_(&window) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return;
    const auto xid = static_cast<xcb_window_t>(window.winId());
    // Qt chooses the window's events; visibility changes go beside them.
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, xid), nullptr), &std::free);
    if (!attributes) return;
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
    xcb_change_window_attributes(c, xid, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    xid_ = xid;
    qGuiApp->installNativeEventFilter(this);
}

X11WindowCover::~X11WindowCover() {
    if (xid_ && qGuiApp) qGuiApp->removeNativeEventFilter(this);
}

bool X11WindowCover::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !window_) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_VISIBILITY_NOTIFY) return false;
    const auto* visibility = reinterpret_cast<const xcb_visibility_notify_event_t*>(event);
    if (visibility->window != xid_) return false;
    const bool covered = visibility->state == XCB_VISIBILITY_FULLY_OBSCURED;
    if (window_->property(windowCoveredProperty).toBool() != covered)
        window_->setProperty(windowCoveredProperty, covered);
    return false;
}

} // namespace dovrel::controller
