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

    // The mark, the title and the action. The title wraps in the room the action leaves, so that a long
    // one never pushes the action past the card's edge; anchored rather than in a row layout, which keeps
    // a wrapped title's first height after the title has room for one line.
    Item {
        id: head
        // The band of the first line, which the mark and the action share with the title.
        readonly property real band: Math.max(title.firstLine, enableLink.visible ? enableLink.implicitHeight : 0)
        Layout.fillWidth: true
        // The width it would take on one line: a column does not lay out again a row that appears
        // (the clipboard's, on GNOME) with no width of its own.
        implicitWidth: title.anchors.leftMargin + title.implicitWidth + title.anchors.rightMargin
                       + (enableLink.visible ? enableLink.implicitWidth : 0)
        implicitHeight: Math.max(band, title.y + title.implicitHeight)
        Symbol {
            objectName: view.objectName + "Mark"
            anchors.left: parent.left
            y: (head.band - height) / 2
            name: view.row.ok ? "check.circle" : "warning"
            color: view.row.ok ? view.theme.goodInk : view.theme.warnMark
            size: 15
        }
        Label {
            id: title
            objectName: view.objectName + "Title"
            readonly property real firstLine: lineCount > 0 ? implicitHeight / lineCount : implicitHeight
            y: (head.band - firstLine) / 2
            anchors.left: parent.left
            anchors.leftMargin: 23
            anchors.right: enableLink.visible ? enableLink.left : parent.right
            anchors.rightMargin: enableLink.visible ? 8 : 0
            wrapMode: Text.Wrap
            text: view.label
            textFormat: Text.PlainText
            color: view.theme.text
            font.pixelSize: view.theme.body
        }
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
