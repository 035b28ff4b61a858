import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Whether this computer comes back by itself with nobody in the room, and what to do for each condition
// that does not hold.
ColumnLayout {
    id: section
    required property var checker
    required property Theme theme
    spacing: 8
    Layout.fillWidth: true

    // The heading, and the readiness badge in its trailing corner. The title wraps in the room the badge
    // leaves; the mark and the badge stand level with its first line. Anchored rather than in a row
    // layout: a row layout keeps a wrapped title's first height after the title has room for one line.
    Item {
        Layout.fillWidth: true
        Layout.bottomMargin: 2
        implicitWidth: title.anchors.leftMargin + title.implicitWidth + title.anchors.rightMargin + badge.implicitWidth
        implicitHeight: title.implicitHeight

        Symbol {
            anchors.left: parent.left
            y: (title.firstLine - height) / 2
            name: "lock.laptop"
            color: section.theme.accentInk
            size: 16
        }
        Label {
            id: title
            objectName: "readinessTitle"
            // The height of one line, for the mark and the badge beside the first.
            readonly property real firstLine: lineCount > 0 ? implicitHeight / lineCount : implicitHeight
            anchors.left: parent.left
            anchors.leftMargin: 24
            anchors.right: badge.left
            anchors.rightMargin: 8
            wrapMode: Text.Wrap
            text: qsTr("Locked-room / unattended")
            textFormat: Text.PlainText
            color: section.theme.text
            font.pixelSize: section.theme.headline
            font.weight: Font.DemiBold
        }
        Row {
            id: badge
            anchors.right: parent.right
            y: (title.firstLine - height) / 2
            spacing: 8
            Rectangle {
                objectName: "readinessDot"
                anchors.verticalCenter: parent.verticalCenter
                width: 8
                height: 8
                radius: 4
                color: section.checker.ready ? section.theme.goodInk : section.theme.warnMark
            }
            Label {
                objectName: "readinessBadge"
                text: section.checker.badge
                textFormat: Text.PlainText
                color: section.checker.ready ? section.theme.goodInk : section.theme.warnInk
                font.pixelSize: section.theme.detail
            }
        }
    }
    Caption {
        objectName: "readinessIntro"
        theme: section.theme
        text: section.checker.intro
    }

    ReadinessRowView { objectName: "supervisedRow"; row: section.checker.supervisedRow; theme: section.theme }
    ReadinessRowView { objectName: "autoLoginRow"; row: section.checker.autoLoginRow; theme: section.theme }
    ReadinessRowView { objectName: "encryptionRow"; row: section.checker.encryptionRow; theme: section.theme }
    ReadinessRowView { objectName: "powerRow"; row: section.checker.powerRow; theme: section.theme }
    ReadinessRowView { objectName: "sleepRow"; row: section.checker.sleepRow; theme: section.theme }

    RowLayout {
        Layout.fillWidth: true
        LinkButton {
            objectName: "recheck"
            theme: section.theme
            text: qsTr("Re-check")
            onClicked: section.checker.refresh()
        }
        Item { Layout.fillWidth: true }
        Label {
            objectName: "lastChecked"
            visible: section.checker.lastChecked.length > 0
            text: qsTr("checked ") + section.checker.lastChecked
            textFormat: Text.PlainText
            color: section.theme.textDim
            font.pixelSize: section.theme.caption
        }
    }
}
