#pragma once
#include "controller/ui/session/VideoSurfaceItem.h"

struct VideoSurfaceItemType {
    Q_GADGET
    QML_FOREIGN(dovrel::controller::VideoSurfaceItem)
    QML_NAMED_ELEMENT(VideoSurfaceItem)
};

struct WEXClientType {
    Q_GADGET
    QML_FOREIGN(dovrel::controller::WEXClient)
    QML_NAMED_ELEMENT(WEXClient)
};
