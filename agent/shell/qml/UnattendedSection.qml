import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts

// Whether this computer comes back by itself with nobody in the room, and what to do for each condition
// that does not hold.
ColumnLayout {
    id: section
    required property var checker
    required property Theme theme
    spacing: 8
    Layout.fillWidth: true

    RowLayout {
        spacing: 6
        Layout.fillWidth: true
        Symbol { name: "lock.laptop"; color: section.theme.brand; size: 15 }
        Label {
            text: qsTr("Locked-room / unattended")
            textFormat: Text.PlainText
            color: section.theme.text
            font.pixelSize: section.theme.callout
            font.weight: Font.DemiBold
        }
        Item { Layout.fillWidth: true }
        Rectangle {
            objectName: "readinessDot"
            implicitWidth: 8
            implicitHeight: 8
            radius: 4
            color: section.checker.ready ? section.theme.good : section.theme.warn
        }
        Label {
            objectName: "readinessBadge"
            text: section.checker.badge
            textFormat: Text.PlainText
            color: section.checker.ready ? section.theme.goodText : section.theme.warnText
            font.pixelSize: section.theme.caption
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
            color: section.theme.secondary
            font.pixelSize: section.theme.caption2
        }
    }
}
