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

    // The heading, and the readiness badge in its trailing corner.
    MarkedTitle {
        id: heading
        Layout.fillWidth: true
        Layout.bottomMargin: 2
        theme: section.theme
        symbol: "lock.laptop"
        symbolColor: section.theme.accentInk
        symbolSize: 16
        indent: 24
        titleName: "readinessTitle"
        text: qsTr("Locked-room / unattended")
        titleFont.pixelSize: section.theme.headline
        titleFont.weight: Font.DemiBold
        trailing: badge
        Row {
            id: badge
            anchors.right: parent.right
            y: (heading.band - height) / 2
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
