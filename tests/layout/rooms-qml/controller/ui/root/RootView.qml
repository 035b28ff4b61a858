import QtQuick
import Dovrel.Controller

Item {
    Loader {
        source: Qt.resolvedUrl("DeckScreen.qml")
    }
    SessionScreen {}
}
