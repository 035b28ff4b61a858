#include "agent/shell/TextClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace dovrel::agent {

void QtTextClipboard::setText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

} // namespace dovrel::agent
