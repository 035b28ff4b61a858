#include "controller/ui/ClientAssistantRemote.h"

#include <QClipboard>
#include <QGuiApplication>

namespace dovrel::controller {

void QtLocalClipboard::setText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

} // namespace dovrel::controller
