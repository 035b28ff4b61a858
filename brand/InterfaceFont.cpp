#include "brand/InterfaceFont.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>

namespace dovrel::brand {

namespace {
// In order of preference after the desktop's own: Inter has every weight; Cantarell is GNOME's.
const QString fallbacks[] = {QStringLiteral("Inter"), QStringLiteral("Cantarell")};
} // namespace

QString interfaceFamily(const QString& desktopFamily, const std::function<bool(const QString&)>& hasWeights) {
    if (!desktopFamily.isEmpty() && hasWeights(desktopFamily)) return desktopFamily;
    for (const QString& family : fallbacks)
        if (hasWeights(family)) return family;
    return desktopFamily;
}

bool hasInterfaceWeights(const QString& family) {
    if (!QFontDatabase::hasFamily(family)) return false;
    bool medium = false, semibold = false;
    for (const QString& style : QFontDatabase::styles(family)) {
        if (QFontDatabase::italic(family, style)) continue;
        const int weight = QFontDatabase::weight(family, style);
        medium = medium || weight == QFont::Medium;
        semibold = semibold || weight == QFont::DemiBold;
    }
    return medium && semibold;
}

QString useInterfaceFont() {
    QFont font = QGuiApplication::font();
    // The platform's font may be an alias ("Sans Serif"): what it resolves to is what is drawn.
    const QString desktop = QFontInfo(font).family();
    const QString family = interfaceFamily(desktop, hasInterfaceWeights);
    font.setFamilies({family});
    QGuiApplication::setFont(font);
    return family;
}

} // namespace dovrel::brand
