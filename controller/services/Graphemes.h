#pragma once

#include <QString>
#include <QStringList>

namespace dovrel::controller {

// The user-perceived characters (extended grapheme clusters) of a text, in order.
QStringList graphemes(const QString& text);

} // namespace dovrel::controller
