import QtQuick
import QtQuick.Controls
import Dovrel.Controller
import Dovrel.Look

// The root's modal alerts (sign out, unpair, rename; the keychain's and an unpair's notices), asked one
// at a time, and the sign-in sheet.
Item {
    id: alerts
    required property RootViewModel root
    required property SignInViewModel signIn

    // Opened and closed by the root's state; a dialog that closes itself (Escape) answers Cancel.
    Connections {
        target: alerts.root
        function onAlertChanged() {
            if (alerts.root.alert === RootViewModel.None) {
                alert.close()
                return
            }
            field.text = alerts.root.alertField
            alert.open()
        }
        function onShowSignInChanged() {
            if (alerts.root.showSignIn)
                signIn.open()
            else
                signIn.close()
        }
    }

    component ThemedDialog: Dialog {
        id: dialog
        anchors.centerIn: parent
        modal: true
        padding: 20
        Overlay.modal: Rectangle {
            color: Theme.scrim
        }
        background: Rectangle {
            radius: 14
            color: Theme.raised
            border.color: Theme.stroke
            border.width: 1
            Shadow {
                blur: 24
                offsetY: 8
                corner: 14
                color: Qt.rgba(0, 0, 0, 0.3)
            }
        }
        header: Text {
            text: dialog.title
            textFormat: Text.PlainText
            padding: 20
            bottomPadding: 0
            font.pixelSize: 15
            font.weight: Font.DemiBold
            color: Theme.text
        }
    }

    ThemedDialog {
        id: alert
        objectName: "rootAlert"
        closePolicy: Popup.CloseOnEscape
        title: alerts.root.alertTitle
        width: 420

        // The message and the name field take the alert's whole width, so that the field ends where the
        // buttons under it do.
        Column {
            width: alert.availableWidth
            spacing: 12
            Text {
                visible: alerts.root.alertText.length > 0
                width: parent.width
                wrapMode: Text.Wrap
                text: alerts.root.alertText
                textFormat: Text.PlainText
                font.pixelSize: 13
                color: Theme.textDim
            }
            WellField {
                id: field
                objectName: "renameField"
                visible: alerts.root.alert === RootViewModel.Rename
                width: parent.width
                focus: visible
                onAccepted: alerts.root.answerAlert(true, field.text)
            }
        }
        // Cancel on the left, the alert's own action on the right, apart enough to tell them apart.
        footer: Item {
            implicitHeight: buttons.implicitHeight + 24
            Row {
                id: buttons
                anchors.right: parent.right
                anchors.rightMargin: 20
                anchors.top: parent.top
                anchors.topMargin: 4
                spacing: 10
                ThemedButton {
                    objectName: "alertCancel"
                    // A notice is only acknowledged.
                    visible: !alerts.root.alertAcknowledgeOnly
                    text: qsTr("Cancel")
                    onClicked: alerts.root.answerAlert(false)
                }
                ThemedButton {
                    objectName: "alertConfirm"
                    primary: !alerts.root.alertDestructive
                    destructive: alerts.root.alertDestructive
                    text: alerts.root.alertConfirm
                    onClicked: alerts.root.answerAlert(true, field.text)
                }
            }
        }
        onRejected: alerts.root.answerAlert(false)
    }

    SignInSheet {
        id: signIn
        objectName: "signInSheet"
        model: alerts.signIn
    }
}
