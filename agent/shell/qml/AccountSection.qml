import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts

// Sign this computer in to a relay account (or create one), show which, sign out.
ColumnLayout {
    id: section
    required property var vm
    required property Theme theme
    readonly property var app: vm.app
    spacing: 8
    Layout.fillWidth: true

    SectionHeader {
        objectName: "account"
        theme: section.theme
        symbol: section.vm.signedIn ? "person" : "person.unknown"
        symbolColor: section.vm.signedIn ? section.theme.brand : section.theme.secondary
        title: qsTr("Account")
        busy: section.app.accountBusy
    }

    ColumnLayout {
        objectName: "signInForm"
        visible: !section.vm.signedIn
        spacing: 8
        Layout.fillWidth: true
        Caption {
            theme: section.theme
            text: qsTr("Sign in so this computer and your device share a private space. Use the same account you made in the DOVRELÆ app.")
        }
        TextField {
            objectName: "acctName"
            Layout.fillWidth: true
            placeholderText: qsTr("Account name")
            font.pixelSize: section.theme.caption
            text: section.vm.acctName
            onTextEdited: section.vm.acctName = text
        }
        TextField {
            objectName: "acctPassword"
            Layout.fillWidth: true
            placeholderText: qsTr("Password")
            echoMode: TextInput.Password
            font.pixelSize: section.theme.caption
            text: section.vm.acctPassword
            onTextEdited: section.vm.acctPassword = text
        }
        TextField {
            objectName: "acctInvite"
            visible: section.vm.creatingAccount
            Layout.fillWidth: true
            placeholderText: qsTr("Invite code (if your team uses one)")
            font.pixelSize: section.theme.caption
            text: section.vm.acctInvite
            onTextEdited: section.vm.acctInvite = text
        }
        RowLayout {
            spacing: 8
            // Filled in the brand green while it can be pressed, grey until the name and password
            // are long enough, so that it never looks pressable when it does nothing.
            Button {
                id: submit
                objectName: "accountSubmit"
                text: section.vm.accountButtonText
                enabled: section.vm.canSubmitAccount
                font.pixelSize: section.theme.caption
                onClicked: section.vm.submitAccount()
                contentItem: Text {
                    text: submit.text
                    textFormat: Text.PlainText
                    font: submit.font
                    color: submit.enabled ? "white" : section.theme.secondary
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    objectName: "accountSubmitFill"
                    implicitWidth: 72
                    implicitHeight: 24
                    radius: 5
                    color: !submit.enabled ? section.theme.divider
                                           : submit.down ? Qt.darker(section.theme.brandFill, 1.15) : section.theme.brandFill
                }
            }
            LinkButton {
                objectName: "accountMode"
                theme: section.theme
                text: section.vm.accountModeText
                onClicked: section.vm.toggleAccountMode()
            }
            Item { Layout.fillWidth: true }
        }
    }

    ColumnLayout {
        objectName: "signedInBox"
        visible: section.vm.signedIn
        spacing: 6
        Layout.fillWidth: true
        RowLayout {
            spacing: 6
            Layout.fillWidth: true
            Label {
                text: qsTr("Signed in as")
                textFormat: Text.PlainText
                color: section.theme.secondary
                font.pixelSize: section.theme.caption
            }
            Label {
                objectName: "accountName"
                text: section.app.account
                textFormat: Text.PlainText
                color: section.theme.text
                font.pixelSize: section.theme.caption
                font.weight: Font.DemiBold
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            LinkButton {
                objectName: "signOut"
                theme: section.theme
                text: qsTr("Sign out")
                enabled: !section.app.accountBusy
                onClicked: section.vm.signOut()
            }
        }
        Caption {
            theme: section.theme
            small: true
            text: qsTr("Your machines are in a private space only this account can reach.")
        }
    }

    Caption {
        objectName: "accountError"
        theme: section.theme
        small: true
        visible: section.app.accountError.length > 0
        text: section.app.accountError
        color: section.theme.warnText
    }
}
