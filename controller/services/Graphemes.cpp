#include "controller/services/Graphemes.h"

#include <QTextBoundaryFinder>

namespace dovrel::controller {

QStringList graphemes(const QString& text) {
    QStringList out;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (end > start) out.append(text.mid(start, end - start));
        start = end;
    }
    return out;
}

} // namespace dovrel::controller
