#include "controller/platform/PointerButtons.h"

#include <cstdlib>
#include <memory>

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

namespace dovrel::controller {

std::optional<bool> primaryButtonHeldOnX11() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return std::nullopt;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr), &std::free);
    if (!pointer) return std::nullopt;
    return (pointer->mask & XCB_KEY_BUT_MASK_BUTTON_1) != 0;
}

} // namespace dovrel::controller
