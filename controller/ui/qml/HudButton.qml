import QtQuick
import Dovrel.Controller

// A round control of the session window's top row: a symbol on frosted glass, or dark on the accent
// green while `active`. `tint` colours the symbol on the glass (a control that is switched off).
Item {
    id: button
    property string symbol
    property bool active: false
    property color tint: "white"
    signal pressed

    implicitWidth: 32
    implicitHeight: 32

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: button.active ? Theme.accent : Theme.material
        border.color: Theme.strokeDark
        border.width: button.active ? 0 : 1
    }
    Symbol {
        anchors.centerIn: parent
        name: button.symbol
        size: 15
        color: button.active ? Theme.accentLabel : button.tint
    }
    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: button.pressed()
    }
}
