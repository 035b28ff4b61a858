import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dovrel.Look

// Whether the code above lets anyone in and until when; the next code's lifetime; a fresh code; cancel
// every code (after a confirmation); end the session connected now.
ColumnLayout {
    id: section
    required property var vm
    required property Theme theme
    readonly property var app: vm.app
    spacing: 8
    Layout.fillWidth: true

    SectionHeader {
        objectName: "sharing"
        theme: section.theme
        symbol: "key"
        title: qsTr("Sharing & access")
        busy: section.app.grantBusy
    }
    Caption {
        objectName: "sharingStatus"
        theme: section.theme
        text: section.vm.sharingStatus
    }
    RowLayout {
        spacing: 10
        Layout.topMargin: 2
        Label {
            text: qsTr("New code lasts")
            textFormat: Text.PlainText
            color: section.theme.textDim
            font.pixelSize: section.theme.body
        }
        ThemedComboBox {
            objectName: "lifetime"
            compact: true
            Layout.preferredWidth: 120
            model: section.vm.lifetimeLabels
            currentIndex: section.vm.lifetimeIndex
            onActivated: index => section.vm.lifetimeIndex = index
        }
        Item { Layout.fillWidth: true }
    }
    RowLayout {
        spacing: 8
        IconButton {
            objectName: "newGrant"
            theme: section.theme
            symbol: "renew"
            enabled: section.vm.canNewGrant
            text: qsTr("New code")
            tip: qsTr("Issue a fresh QR. The previous one stops working immediately.")
            onClicked: section.vm.newGrant()
        }
        IconButton {
            objectName: "cancelAll"
            theme: section.theme
            symbol: "shield.x"
            destructive: true
            enabled: section.vm.canChangeAccess
            text: qsTr("Cancel all access")
            tip: qsTr("Cancel this computer's QR code and share code, change its pairing code, and disconnect anyone connected. Your account and other devices are not affected.")
            onClicked: section.vm.askCancelAllAccess()
        }
        Item { Layout.fillWidth: true }
    }
    IconButton {
        objectName: "disconnect"
        theme: section.theme
        symbol: "bolt.circle"
        destructive: true
        visible: section.vm.showDisconnect
        text: qsTr("Disconnect current session")
        tip: qsTr("End the session connected right now. The code keeps working.")
        onClicked: section.vm.disconnectSession()
    }
    Caption {
        objectName: "sharingMessage"
        theme: section.theme
        small: true
        visible: text.length > 0
        text: section.vm.sharingNote
    }
    ErrorLine {
        objectName: "sharingError"
        Layout.fillWidth: true
        text: section.vm.sharingError
    }

    // The confirmation before every code is cancelled.
    Card {
        objectName: "cancelConfirm"
        visible: section.vm.confirmCancelAccess
        Layout.fillWidth: true
        corner: 10
        color: section.theme.raised
        border.color: Qt.alpha(section.theme.bad, 0.55)
        inset: 12
        spacing: 8
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: qsTr("Cancel this computer's QR code and share code?")
            textFormat: Text.PlainText
            color: section.theme.text
            font.pixelSize: section.theme.body
            font.weight: Font.DemiBold
        }
        Caption {
            theme: section.theme
            text: qsTr("Anyone holding the old QR code, share code or pairing code can no longer use it to reach this computer, and anyone connected right now is disconnected. New codes are created for you.") + "\n\n" + qsTr("Devices you have already paired stay paired. Your account, your phones and your other computers are not affected.")
        }
        RowLayout {
            spacing: 8
            Layout.topMargin: 2
            ThemedButton {
                objectName: "confirmCancel"
                destructive: true
                compact: true
                text: qsTr("Cancel access")
                onClicked: section.vm.confirmCancelAllAccess()
            }
            ThemedButton {
                objectName: "keepAccess"
                compact: true
                text: qsTr("Keep them")
                onClicked: section.vm.keepAccess()
            }
        }
    }
}
