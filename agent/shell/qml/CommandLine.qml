import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts

// A terminal command on a tinted ground, selectable, with a copy button.
RowLayout {
    id: line
    required property Theme theme
    property string command
    signal copy()
    spacing: 6
    Layout.fillWidth: true

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: commandText.implicitHeight + 8
        radius: 6
        color: line.theme.codeFill
        TextEdit {
            id: commandText
            objectName: line.objectName + "Text"
            x: 7
            y: 4
            width: parent.width - 14
            text: line.command
            textFormat: TextEdit.PlainText
            readOnly: true
            selectByMouse: true
            // Between words, after a slash or a hyphen; only a part longer than the line is broken
            // inside.
            wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
            color: line.theme.text
            font.family: "DejaVu Sans Mono"
            font.pixelSize: 11
        }
    }
    AbstractButton {
        id: copyButton
        objectName: line.objectName + "Copy"
        implicitWidth: 16
        implicitHeight: 16
        contentItem: Symbol { name: "copy"; color: line.theme.brand; size: 12 }
        ThemedToolTip {
            theme: line.theme
            visible: copyButton.hovered
            text: qsTr("Copy command")
        }
        onClicked: line.copy()
    }
}
