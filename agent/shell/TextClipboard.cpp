#include "agent/shell/TextClipboard.h"

#include <QMimeData>

#include "agent/common/AgentLog.h"
#include "runtime/clipboard/X11ClipboardOwner.h"

namespace dovrel::agent {

void QtTextClipboard::setText(const QString& text) {
    // Taken so that it sticks even when another program copied more recently than Qt has heard of; the
    // clipboard sync then offers it to a connected controller like any other copy.
    auto* data = new QMimeData;
    data->setText(text);
    if (!putOnClipboard(data)) print("⚠︎ the window's copy could not be put on the clipboard");
}

} // namespace dovrel::agent
