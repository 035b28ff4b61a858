#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include "brand/StarMarkItem.h"
#include "brand/WordmarkItem.h"
#include "controller/client/WEXClient.h"
#include "controller/ui/VideoSurfaceItem.h"

// Types of other folders the controller's QML names, registered in its module without touching them.
namespace dovrel::controller::qml {

struct VideoSurfaceItemType {
    Q_GADGET
    QML_FOREIGN(dovrel::controller::VideoSurfaceItem)
    QML_NAMED_ELEMENT(VideoSurfaceItem)
};

struct WEXClientType {
    Q_GADGET
    QML_FOREIGN(dovrel::controller::WEXClient)
    QML_NAMED_ELEMENT(WEXClient)
    QML_UNCREATABLE("The program makes the window's one session client.")
};

struct StarMarkItemType {
    Q_GADGET
    QML_FOREIGN(dovrel::brand::StarMarkItem)
    QML_NAMED_ELEMENT(StarMarkItem)
};

struct WordmarkItemType {
    Q_GADGET
    QML_FOREIGN(dovrel::brand::WordmarkItem)
    QML_NAMED_ELEMENT(WordmarkItem)
};

} // namespace dovrel::controller::qml
