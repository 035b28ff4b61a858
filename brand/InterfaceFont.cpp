#include "brand/InterfaceFont.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>

namespace dovrel::brand {

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

namespace {

QString interfaceFamily(const QString& desktopFamily) {
    if (!desktopFamily.isEmpty() && hasInterfaceWeights(desktopFamily)) return desktopFamily;
    // In order of preference after the desktop's own: Inter has every weight; Cantarell is GNOME's.
    for (const QString& family : {QStringLiteral("Inter"), QStringLiteral("Cantarell")})
        if (hasInterfaceWeights(family)) return family;
    return desktopFamily;
}

} // namespace

QString useInterfaceFont() {
    QFont font = QGuiApplication::font();
    // The platform's font may be an alias ("Sans Serif"): what it resolves to is what is drawn.
    const QString desktop = QFontInfo(font).family();
    const QString family = interfaceFamily(desktop);
    font.setFamilies({family});
    QGuiApplication::setFont(font);
    return family;
}

} // namespace dovrel::brand
