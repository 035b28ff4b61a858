#pragma once

#include <QObject>

class QClipboard;

namespace dovrel::agent {

// The command boxes lay a command out with invisible joiners between its letters, so that it wraps only
// at its spaces. Selecting it with the mouse puts that laid-out text on the X selection, and a middle
// click would paste a command that no shell runs; while this window owns the selection, the selection
// is the command's own characters. Main thread.
class CommandSelection final : public QObject {
public:
    explicit CommandSelection(QClipboard& clipboard);

    // `text` without the joiners and break hints the command boxes lay out with.
    static QString withoutLayoutMarks(QString text);

private:
    void clean();

    QClipboard& clipboard_;
};

} // namespace dovrel::agent
