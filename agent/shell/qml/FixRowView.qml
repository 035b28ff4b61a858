import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// One capability: a check or a warning, its title, and "Enable" when it is missing, which opens the
// desktop's settings panel or shows the command that turns it on.
ColumnLayout {
    id: view
    required property var row
    required property Theme theme
    property string actionText: qsTr("Enable")
    property bool actionAlways: false
    property string label: row.title
    spacing: 4
    Layout.fillWidth: true

    RowLayout {
        spacing: 8
        Layout.fillWidth: true
        Symbol {
            objectName: view.objectName + "Mark"
            name: view.row.ok ? "check.circle" : "warning"
            color: view.row.ok ? view.theme.goodInk : view.theme.warnMark
            size: 15
        }
        Label {
            objectName: view.objectName + "Title"
            text: view.label
            textFormat: Text.PlainText
            color: view.theme.text
            font.pixelSize: view.theme.body
        }
        Item { Layout.fillWidth: true }
        LinkButton {
            objectName: view.objectName + "Enable"
            theme: view.theme
            visible: !view.row.ok || (view.actionAlways && view.row.hasPanel)
            text: view.actionText
            onClicked: view.row.enable()
        }
    }
    ColumnLayout {
        objectName: view.objectName + "Fix"
        visible: view.row.commandShown
        Layout.fillWidth: true
        Layout.leftMargin: 23
        spacing: 4
        Caption {
            theme: view.theme
            small: true
            text: view.row.hint
        }
        CommandLine {
            objectName: view.objectName + "Command"
            visible: view.row.command !== ""
            theme: view.theme
            command: view.row.command
            onCopy: view.row.copyCommand()
        }
    }
}
