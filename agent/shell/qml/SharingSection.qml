import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts

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
        spacing: 8
        Label {
            text: qsTr("New code lasts")
            textFormat: Text.PlainText
            color: section.theme.secondary
            font.pixelSize: section.theme.caption
        }
        ComboBox {
            objectName: "lifetime"
            Layout.preferredWidth: 110
            font.pixelSize: section.theme.caption
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
            enabled: section.vm.canChangeAccess
            text: qsTr("New code")
            tip: qsTr("Issue a fresh QR. The previous one stops working immediately.")
            onClicked: section.vm.newGrant()
        }
        IconButton {
            objectName: "cancelAll"
            theme: section.theme
            symbol: "shield.x"
            danger: true
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
        danger: true
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
        text: section.vm.sharingMessage
        color: section.vm.sharingMessageIsError ? section.theme.warnText : section.theme.secondary
    }

    // The confirmation before every code is cancelled.
    Rectangle {
        objectName: "cancelConfirm"
        visible: section.vm.confirmCancelAccess
        Layout.fillWidth: true
        implicitHeight: confirm.implicitHeight + 20
        radius: 8
        color: section.theme.field
        border.color: section.theme.warn
        ColumnLayout {
            id: confirm
            anchors.fill: parent
            anchors.margins: 10
            spacing: 6
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("Cancel this computer's QR code and share code?")
                textFormat: Text.PlainText
                color: section.theme.text
                font.pixelSize: section.theme.callout
                font.weight: Font.DemiBold
            }
            Caption {
                theme: section.theme
                text: qsTr("Anyone holding the old QR code, share code or pairing code can no longer use it to reach this computer, and anyone connected right now is disconnected. New codes are created for you.") + "\n\n" + qsTr("Devices you have already paired stay paired. Your account, your phones and your other computers are not affected.")
            }
            RowLayout {
                spacing: 8
                Button {
                    objectName: "confirmCancel"
                    text: qsTr("Cancel access")
                    palette.buttonText: section.theme.warnText
                    font.pixelSize: section.theme.caption
                    onClicked: section.vm.confirmCancelAllAccess()
                }
                Button {
                    objectName: "keepAccess"
                    text: qsTr("Keep them")
                    font.pixelSize: section.theme.caption
                    onClicked: section.vm.keepAccess()
                }
            }
        }
    }
}
