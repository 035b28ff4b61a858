#include "runtime/clipboard/X11ClipboardOwner.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

namespace dovrel {

namespace {

QClipboard* appClipboard() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

xcb_connection_t* qtConnection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t clipboardAtom(xcb_connection_t* c) {
    static xcb_atom_t atom = XCB_ATOM_NONE;
    if (atom != XCB_ATOM_NONE) return atom;
    const char name[] = "CLIPBOARD";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr), &std::free);
    if (reply) atom = reply->atom;
    return atom;
}

} // namespace

bool ownsClipboard() {
    QClipboard* clipboard = appClipboard();
    if (!clipboard) return false;
    xcb_connection_t* c = qtConnection();
    if (!c) return clipboard->ownsClipboard();
    const xcb_atom_t atom = clipboardAtom(c);
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom), nullptr), &std::free);
    if (!reply || reply->owner == XCB_NONE) return false;
    // Windows of this connection carry its resource id base.
    const xcb_setup_t* setup = xcb_get_setup(c);
    return (reply->owner & ~setup->resource_id_mask) == setup->resource_id_base;
}

bool putOnClipboard(QMimeData* data) {
    QClipboard* clipboard = appClipboard();
    if (!clipboard) {
        delete data;
        return false;
    }
    if (!qtConnection()) {
        clipboard->setMimeData(data, QClipboard::Clipboard);
        return true;
    }
    // Keep a copy for the retries: QClipboard deletes what it replaces.
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto* copy = new QMimeData;
        for (const QString& format : data->formats())
            copy->setData(format, data->data(format));
        clipboard->setMimeData(copy, QClipboard::Clipboard);
        if (ownsClipboard()) {
            delete data;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    delete data;
    return false;
}

} // namespace dovrel
