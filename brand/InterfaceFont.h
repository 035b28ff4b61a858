#pragma once

#include <QString>

namespace dovrel::brand {

// Whether the system's fonts give `family` medium (500) and semibold (600) faces of its own.
bool hasInterfaceWeights(const QString& family);

// Chooses the family both programs draw their words in and makes it the application's font, keeping
// the desktop's point size. Their hierarchy rests on four weights (regular, medium, semibold, bold): a
// family without medium and semibold faces flattens it, since fontconfig then draws those words
// regular. The desktop's own interface font is used where it has them; else Inter, which the packages
// depend on; else Cantarell; else the desktop's font as it is. Call once the application object exists
// and before any window or QML is made; returns the family chosen.
QString useInterfaceFont();

} // namespace dovrel::brand
