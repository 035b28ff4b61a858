import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects
import Dovrel.Controller

// The sign-in sheet on the brand's green: create an account or sign in. The root opens and closes it;
// the sheet itself only reports through its model (done, or "Not now").
Popup {
    id: sheet
    required property SignInViewModel model

    anchors.centerIn: parent
    width: 420
    height: Math.min(parent ? parent.height - 40 : 560, 680)
    modal: true
    Overlay.modal: Rectangle {
        color: Theme.scrim
    }
    padding: 0
    // The root closes the sheet; Escape asks for that as "Not now" does.
    closePolicy: Popup.NoAutoClose
    onOpened: sheet.model.begin()

    Shortcut {
        sequence: "Escape"
        enabled: sheet.visible
        onActivated: sheet.model.skip()
    }

    background: Rectangle {
        radius: 16
        Shadow {
            blur: 28
            offsetY: 10
            corner: 16
            color: Qt.rgba(0, 0, 0, 0.35)
        }
        gradient: Gradient {
            GradientStop {
                position: 0
                color: Theme.brandTop
            }
            GradientStop {
                position: 1
                color: Theme.brandBottom
            }
        }
    }

    component SheetField: TextField {
        id: field
        color: "white"
        placeholderTextColor: Qt.rgba(1, 1, 1, 0.85)
        selectionColor: Qt.rgba(1, 1, 1, 0.35)
        selectedTextColor: "white"
        font.pixelSize: 16
        padding: 14
        inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
        Layout.fillWidth: true
        background: Rectangle {
            radius: 13
            color: Qt.rgba(1, 1, 1, 0.1)
            border.color: Qt.rgba(1, 1, 1, 0.28)
            border.width: 1
        }
    }

    component Segment: Button {
        id: segment
        required property bool selected
        Layout.fillWidth: true
        Layout.preferredWidth: 1 // the two halves alike, whatever their titles
        topPadding: 11
        bottomPadding: 11
        font.pixelSize: 15
        font.weight: Font.DemiBold
        contentItem: Text {
            text: segment.text
            textFormat: Text.PlainText
            font: segment.font
            horizontalAlignment: Text.AlignHCenter
            color: segment.selected ? Theme.brandInk : "white"
        }
        background: Rectangle {
            radius: height / 2
            color: segment.selected ? Theme.brandAccent : "transparent"
        }
    }

    Flickable {
        anchors.fill: parent
        clip: true
        contentHeight: column.implicitHeight + 40
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: column
            x: 26
            width: parent.width - 52
            spacing: 22

            // The white mark, lifted off the green by a soft shadow drawn once and kept.
            Item {
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: 30
                Layout.bottomMargin: 4
                Layout.preferredWidth: 128
                Layout.preferredHeight: 134
                DropShadow {
                    anchors.fill: mark
                    source: mark
                    radius: 16
                    samples: 33
                    verticalOffset: 6
                    color: Qt.rgba(0, 0, 0, 0.15)
                    cached: true
                }
                DovrelMark {
                    id: mark
                    objectName: "signInMark"
                    anchors.fill: parent
                    color: Theme.brandAccent
                }
            }

            // The mode switch.
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: modes.implicitHeight + 8
                radius: height / 2
                color: Qt.rgba(1, 1, 1, 0.16)
                RowLayout {
                    id: modes
                    anchors.fill: parent
                    anchors.margins: 4
                    spacing: 4
                    Segment {
                        objectName: "modeCreate"
                        text: qsTr("Create account")
                        selected: sheet.model.creating
                        onClicked: sheet.model.creating = true
                    }
                    Segment {
                        objectName: "modeSignIn"
                        text: qsTr("Sign in")
                        selected: !sheet.model.creating
                        onClicked: sheet.model.creating = false
                    }
                }
            }

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 12
                SheetField {
                    objectName: "signInAccount"
                    placeholderText: qsTr("Account name")
                    text: sheet.model.account
                    onTextEdited: sheet.model.account = text
                }
                SheetField {
                    objectName: "signInPassword"
                    placeholderText: qsTr("Password")
                    echoMode: TextInput.Password
                    // Small bullets a little apart: the default disc is nearly as tall as the field's
                    // line and its dots run together.
                    passwordCharacter: "\u2022"
                    font.letterSpacing: text.length > 0 ? 2 : 0
                    text: sheet.model.password
                    onTextEdited: sheet.model.password = text
                }
                SheetField {
                    objectName: "signInCode"
                    visible: sheet.model.creating
                    placeholderText: qsTr("Signup code")
                    text: sheet.model.inviteCode
                    onTextEdited: sheet.model.inviteCode = text
                }
            }

            Rectangle {
                objectName: "signInError"
                visible: sheet.model.error.length > 0
                Layout.fillWidth: true
                implicitHeight: errorText.implicitHeight + 16
                radius: 10
                color: Qt.rgba(0, 0, 0, 0.18)
                Text {
                    id: errorText
                    x: 14
                    y: 8
                    width: parent.width - 28
                    wrapMode: Text.Wrap
                    horizontalAlignment: Text.AlignHCenter
                    text: sheet.model.error
                    textFormat: Text.PlainText
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    color: "white"
                }
            }

            Button {
                id: action
                objectName: "signInSubmit"
                Layout.fillWidth: true
                enabled: sheet.model.canSubmit
                opacity: enabled ? 1 : 0.55
                topPadding: 15
                bottomPadding: 15
                font.pixelSize: 16
                font.bold: true
                contentItem: Item {
                    implicitHeight: 22
                    Row {
                        anchors.centerIn: parent
                        spacing: 8
                        Spinner {
                            visible: sheet.model.busy
                            width: 18
                            height: 18
                            anchors.verticalCenter: parent.verticalCenter
                            color: Theme.brandInk
                        }
                        Text {
                            anchors.verticalCenter: parent.verticalCenter
                            text: sheet.model.actionTitle
                            textFormat: Text.PlainText
                            font: action.font
                            color: Theme.brandInk
                        }
                    }
                }
                background: Rectangle {
                    radius: 14
                    color: Theme.brandAccent
                }
                onClicked: sheet.model.submit()
            }

            Button {
                id: skip
                objectName: "signInSkip"
                Layout.alignment: Qt.AlignHCenter
                flat: true
                text: qsTr("Not now")
                font.pixelSize: 12
                font.weight: Font.Medium
                contentItem: Text {
                    text: skip.text
                    textFormat: Text.PlainText
                    font: skip.font
                    color: Qt.rgba(1, 1, 1, 0.85)
                }
                background: null
                onClicked: sheet.model.skip()
            }

            Text {
                Layout.fillWidth: true
                Layout.leftMargin: 30
                Layout.rightMargin: 30
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                text: qsTr("Your account keeps your machines in a private space. Your password is sent once over an encrypted connection and kept only as a one-way hash.")
                textFormat: Text.PlainText
                font.pixelSize: 11
                color: Qt.rgba(1, 1, 1, 0.85)
            }
        }
    }
}
