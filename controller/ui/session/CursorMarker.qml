import QtQuick
import Dovrel.Controller

// A ring and dot where the local pointer is, gliding to each new position so the user sees where the
// remote cursor is being driven before the picture catches up. Takes no clicks.
Item {
    id: marker
    objectName: "cursorMarker"
    required property InteractionModel interaction

    width: 24
    height: 24
    x: interaction.cursorScreen.x - width / 2
    y: interaction.cursorScreen.y - height / 2
    opacity: interaction.showCursorMarker ? 1 : 0
    enabled: false
    Behavior on x {
        NumberAnimation {
            duration: 80
            easing.type: Easing.OutQuad
        }
    }
    Behavior on y {
        NumberAnimation {
            duration: 80
            easing.type: Easing.OutQuad
        }
    }

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.18)
        border.color: Theme.accent
        border.width: 2
    }
    Rectangle {
        anchors.centerIn: parent
        width: 5
        height: 5
        radius: 2.5
        color: Theme.accent
    }
}
