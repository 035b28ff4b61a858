import QtQuick
import Dovrel.Controller

// A round control of the session window's top row: a symbol on frosted glass. `tint` colours the symbol
// (a control that is switched off).
Item {
    id: button
    property string symbol
    property color tint: "white"
    signal pressed

    implicitWidth: Theme.titleControl
    implicitHeight: Theme.titleControl

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: Theme.material
        border.color: Theme.strokeDark
        border.width: 1
    }
    Symbol {
        anchors.centerIn: parent
        name: button.symbol
        size: 15
        color: button.tint
    }
    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: button.pressed()
    }
}
