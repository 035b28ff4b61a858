#pragma once

#include <QQuickItem>
#include <QString>

namespace dovrel::test {

// The item named `name` under `under`, searched through the item tree: items a repeater or loader
// made are not children of the window in the object tree.
inline QQuickItem* findItem(QQuickItem* under, const QString& name) {
    for (QQuickItem* child : under->childItems()) {
        if (child->objectName() == name) return child;
        if (QQuickItem* found = findItem(child, name)) return found;
    }
    return nullptr;
}

} // namespace dovrel::test
