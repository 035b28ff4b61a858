#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace dovrel::controller {

// The pointer's buttons as the desktop has them, for the views that hand a drag to the window manager:
// a window manager handed a drag whose button is already up follows the pointer until the next click.
class PointerButtons : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // The primary button is down; true where the desktop does not say (its compositor then checks the
    // press it is handed).
    Q_INVOKABLE bool primaryHeld() const;
};

} // namespace dovrel::controller
