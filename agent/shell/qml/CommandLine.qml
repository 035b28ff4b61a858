import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dovrel.Look

// A terminal command on the field's ground, selectable, with a copy button in its top right corner.
Rectangle {
    id: line
    required property Theme theme
    property string command
    signal copy()
    Layout.fillWidth: true
    implicitHeight: Math.max(commandText.implicitHeight + 12, 28)
    radius: 8
    color: line.theme.well
    border.color: line.theme.stroke

    MonoText {
        id: commandText
        objectName: line.objectName + "Text"
        theme: line.theme
        x: 9
        y: 6
        width: copyButton.x - x - 2
        text: line.command
        // Between words, after a slash or a hyphen; only a part longer than the line is broken
        // inside.
        wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
        font.pixelSize: 11
    }
    AbstractButton {
        id: copyButton
        objectName: line.objectName + "Copy"
        x: line.width - width - 3
        y: 3
        implicitWidth: 22
        implicitHeight: 22
        contentItem: Item {
            Symbol { anchors.centerIn: parent; name: "copy"; color: line.theme.accentInk; size: 13 }
        }
        background: Rectangle {
            radius: 6
            color: copyButton.hovered ? line.theme.card2 : "transparent"
        }
        ThemedToolTip {
            wrapWidth: 240
            visible: copyButton.hovered
            text: qsTr("Copy command")
        }
        onClicked: line.copy()
    }
}
