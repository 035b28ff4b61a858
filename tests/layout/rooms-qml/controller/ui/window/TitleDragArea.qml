import QtQuick
import Dovrel.Controller

MouseArea {
    Loader {
        source: Qt.resolvedUrl("SessionScreen.qml")
    }
}
