#include "controller/platform/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "runtime/clipboard/ClipboardFileList.h"
#include "runtime/clipboard/X11ClipboardOwner.h"

namespace dovrel::controller {

namespace {

const QMimeData* contents() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
    return QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
}

} // namespace

uint64_t QtClipboard::changeCount() {
    // While this program owns the clipboard, what is there is what it wrote: Qt's late notice of that
    // write is not somebody else's copy.
    if (watch_.changed() && !ownsClipboard()) ++count_;
    return count_;
}

std::optional<std::string> QtClipboard::text() {
    std::string text;
    if (!clipboardPlainText(contents(), text)) return std::nullopt;
    return text;
}

std::vector<std::string> QtClipboard::filePaths() { return clipboardFilePaths(contents()); }

bool QtClipboard::setText(const std::string& text) {
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(text));
    return put(data);
}

bool QtClipboard::setFiles(const std::vector<std::string>& paths) { return put(copiedFilesMimeData(paths)); }

bool QtClipboard::put(QMimeData* data) {
    const bool taken = putOnClipboard(data);
    watch_.forget();
    ++count_;
    return taken;
}

} // namespace dovrel::controller
