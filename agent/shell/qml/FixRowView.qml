import QtQuick
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

    // The mark, the title and the action, which the title's wrapping never pushes past the card's edge.
    MarkedTitle {
        id: head
        Layout.fillWidth: true
        theme: view.theme
        markName: view.objectName + "Mark"
        symbol: view.row.ok ? "check.circle" : "warning"
        symbolColor: view.row.ok ? view.theme.goodInk : view.theme.warnMark
        symbolSize: 15
        titleName: view.objectName + "Title"
        text: view.label
        titleFont.pixelSize: view.theme.body
        trailing: enableLink
        LinkButton {
            id: enableLink
            objectName: view.objectName + "Enable"
            anchors.right: parent.right
            y: (head.band - height) / 2
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
