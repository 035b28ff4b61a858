pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// One condition: its mark, title and detail, "Open" for its settings panel, and its commands to copy.
ColumnLayout {
    id: view
    required property var row
    required property Theme theme
    spacing: 4
    Layout.fillWidth: true

    RowLayout {
        spacing: 8
        Layout.fillWidth: true
        Symbol {
            objectName: view.objectName + "Mark"
            Layout.alignment: Qt.AlignTop
            name: view.row.ok ? "check.circle" : view.row.advice ? "info" : "warning"
            color: view.row.ok ? view.theme.goodInk : view.row.advice ? view.theme.textDim : view.theme.warnMark
            size: 14
        }
        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true
            Label {
                text: view.row.title
                textFormat: Text.PlainText
                color: view.theme.text
                font.pixelSize: view.theme.body
                font.weight: Font.DemiBold
            }
            Caption {
                objectName: view.objectName + "Detail"
                theme: view.theme
                small: true
                // Wraps at the room the mark and "Open" leave, so the row's height fits its lines.
                Layout.maximumWidth: view.width - 22 - (openLink.visible ? openLink.implicitWidth + 8 : 0)
                text: view.row.detail
            }
        }
        LinkButton {
            id: openLink
            objectName: view.objectName + "Open"
            Layout.alignment: Qt.AlignTop
            theme: view.theme
            visible: view.row.canOpen
            text: qsTr("Open")
            onClicked: view.row.open()
        }
    }
    Repeater {
        model: view.row.commands
        CommandLine {
            id: commandLine
            required property int index
            required property string modelData
            objectName: view.objectName + "Command" + commandLine.index
            Layout.leftMargin: 22
            theme: view.theme
            command: commandLine.modelData
            onCopy: view.row.copy(commandLine.index)
        }
    }
}
