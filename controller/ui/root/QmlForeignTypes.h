#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include "brand/StarMarkItem.h"
#include "brand/WordmarkItem.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/WEXClient.h"
#include "controller/services/DeviceStore.h"
#include "controller/ui/session/InputCaptureItem.h"
#include "controller/ui/session/VideoSurfaceItem.h"

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

struct InputCaptureItemType {
    Q_GADGET
    QML_FOREIGN(dovrel::controller::InputCaptureItem)
    QML_NAMED_ELEMENT(InputCaptureItem)
};

struct RemoteInputType {
    Q_GADGET
    QML_FOREIGN(dovrel::controller::RemoteInput)
    QML_NAMED_ELEMENT(RemoteInput)
    QML_UNCREATABLE("The program makes the session's remote input.")
};

struct DeviceStoreType {
    Q_GADGET
    QML_FOREIGN(dovrel::controller::DeviceStore)
    QML_NAMED_ELEMENT(DeviceStore)
    QML_UNCREATABLE("The program keeps one list of saved machines.")
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
