#include "runtime/clipboard/ClipboardChangeWatch.h"

#include <QClipboard>
#include <QGuiApplication>

#include "runtime/clipboard/X11ClipboardOwner.h"

namespace dovrel {

namespace {

QClipboard* appClipboard() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

} // namespace

ClipboardChangeWatch::ClipboardChangeWatch() {
    if (QClipboard* clipboard = appClipboard())
        QObject::connect(clipboard, &QClipboard::changed, &context_, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard) ++changes_;
        });
}

bool ClipboardChangeWatch::changed() {
    const bool owns = ownsClipboard();
    const bool lost = ownedAtLastLook_ && !owns;
    ownedAtLastLook_ = owns;
    if (changes_ == seen_ && !lost) return false;
    seen_ = changes_;
    return true;
}

void ClipboardChangeWatch::forget() {
    seen_ = changes_;
    ownedAtLastLook_ = ownsClipboard();
}

bool ClipboardChangeWatch::ownsClipboard() { return dovrel::ownsClipboard(); }

} // namespace dovrel
