#include "agent/shell/CommandSelection.h"

#include <QClipboard>

namespace dovrel::agent {

CommandSelection::CommandSelection(QClipboard& clipboard) : clipboard_(clipboard) {
    connect(&clipboard_, &QClipboard::selectionChanged, this, &CommandSelection::clean);
}

QString CommandSelection::withoutLayoutMarks(QString text) { return text.remove(QChar(0x2060)).remove(QChar(0x200B)); }

void CommandSelection::clean() {
    // Only what this window selected: another program's selection is never rewritten.
    if (!clipboard_.supportsSelection() || !clipboard_.ownsSelection()) return;
    const QString text = clipboard_.text(QClipboard::Selection);
    const QString plain = withoutLayoutMarks(text);
    if (plain != text)
        clipboard_.setText(plain, QClipboard::Selection); // changes it once more, then with nothing to clean
}

} // namespace dovrel::agent
