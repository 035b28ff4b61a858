import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dovrel.Look

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
        symbolColor: section.vm.signedIn ? section.theme.accentInk : section.theme.textDim
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
            Layout.bottomMargin: 2
            text: qsTr("Sign in so this computer and your device share a private space. Use the same account you made in the DOVRELÆ app.")
        }
        WellField {
            objectName: "acctName"
            Layout.fillWidth: true
            padding: 8
            placeholderText: qsTr("Account name")
            invalid: section.vm.accountFieldsInvalid
            text: section.vm.acctName
            onTextEdited: section.vm.acctName = text
        }
        WellField {
            objectName: "acctPassword"
            Layout.fillWidth: true
            padding: 8
            placeholderText: qsTr("Password")
            echoMode: TextInput.Password
            passwordCharacter: "\u2022"
            invalid: section.vm.accountFieldsInvalid
            text: section.vm.acctPassword
            onTextEdited: section.vm.acctPassword = text
        }
        WellField {
            objectName: "acctInvite"
            visible: section.vm.creatingAccount
            Layout.fillWidth: true
            padding: 8
            placeholderText: qsTr("Invite code (if your team uses one)")
            text: section.vm.acctInvite
            onTextEdited: section.vm.acctInvite = text
        }
        RowLayout {
            spacing: 12
            Layout.topMargin: 2
            // Filled in the accent green while it can be pressed, grey until the name and password
            // are long enough, so that it never looks pressable when it does nothing.
            ThemedButton {
                objectName: "accountSubmit"
                primary: true
                compact: true
                text: section.vm.accountButtonText
                enabled: section.vm.canSubmitAccount
                onClicked: section.vm.submitAccount()
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
                color: section.theme.textDim
                font.pixelSize: section.theme.body
            }
            Label {
                objectName: "accountName"
                text: section.app.account
                textFormat: Text.PlainText
                color: section.theme.text
                font.pixelSize: section.theme.body
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

    ErrorLine {
        objectName: "accountError"
        Layout.fillWidth: true
        text: section.app.accountError
    }
}
