#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

namespace dovrel::controller {

// The controller's own icon set: one monochrome SVG per symbol name the views use ("lock.fill",
// "eye.slash", …), drawn for this program under ui/symbols and compiled in. The one place a name
// becomes a drawing; a name outside the set finds nothing.
class SymbolSet : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    static const QStringList& names();
    // The resource path (":/dovrel/symbols/…svg"); empty for an unknown name.
    static QString resourcePath(const QString& name);
    // The same as a URL, for icons of Qt Quick Controls (menus).
    Q_INVOKABLE QUrl url(const QString& name) const;
};

} // namespace dovrel::controller
