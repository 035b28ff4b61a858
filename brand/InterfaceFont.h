#pragma once

#include <functional>

#include <QString>

namespace dovrel::brand {

// The family both programs draw their words in. Their hierarchy rests on four weights (regular,
// medium, semibold, bold): a family without medium and semibold faces flattens it, since fontconfig
// then draws those words regular. The desktop's own interface font is used where it has them; else
// Inter, which the packages depend on; else Cantarell; else the desktop's font as it is.
// `hasWeights` says whether a family has medium and semibold faces.
QString interfaceFamily(const QString& desktopFamily, const std::function<bool(const QString&)>& hasWeights);

// Whether the system's fonts give `family` medium (500) and semibold (600) faces of its own.
bool hasInterfaceWeights(const QString& family);

// Makes the family above the application's font, keeping the desktop's point size. Call once the
// application object exists and before any window or QML is made; returns the family chosen.
QString useInterfaceFont();

} // namespace dovrel::brand
