import QtQuick
import Dovrel.Controller

Item {
    VideoSurfaceItem {}
    property PairingModel pairing
}
