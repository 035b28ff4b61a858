import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects
import Dovrel.Controller
import Dovrel.Look

// The sign-in sheet on the brand's green: create an account or sign in. The root opens and closes it;
// the sheet itself only reports through its model (done, or "Not now").
Popup {
    id: sheet
    required property SignInViewModel model

    // The sheet's top edge: under every screen's title area (66 tall, with the window's buttons), in
    // the same place whatever the sheet holds, so that it grows and shrinks only at its foot.
    readonly property real topEdge: 76
    readonly property real footMargin: 16
    // As tall as what it holds, down to the window's foot less a margin. Where the window is short the
    // mark gives up room first and the rows close up; what still does not fit scrolls, under a scroll
    // bar that stays on the screen.
    readonly property real room: parent ? parent.height - sheet.topEdge - sheet.footMargin : 560
    readonly property bool compact: sheet.room < 640
    // The mark with the room around it: 30 above, 4 below and the rows' spacing, at full size.
    readonly property real markFull: 190
    readonly property real markLeast: 72
    readonly property real foot: sheet.compact ? 18 : 30

    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: sheet.topEdge
    width: 420
    height: Math.min(sheet.room, sheet.markFull + body.implicitHeight + sheet.foot)
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

    // The shared field in the sheet's colours: white words on a veil of white.
    component SheetField: WellField {
        color: "white"
        placeholderTextColor: Qt.rgba(1, 1, 1, 0.85)
        selectionColor: Qt.rgba(1, 1, 1, 0.35)
        selectedTextColor: "white"
        ground: Qt.rgba(1, 1, 1, 0.1)
        restEdge: Qt.rgba(1, 1, 1, 0.28)
        litEdge: Qt.rgba(1, 1, 1, 0.6)
        invalidEdge: Look.errorDark
        corner: 13
        font.pixelSize: 16
        // One height in every window: a field hidden while its padding changed (the code, in sign-in
        // mode) would come back at its old height.
        padding: 12
        inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
        Layout.fillWidth: true
    }

    component Segment: Button {
        id: segment
        required property bool selected
        property bool compact: false
        Layout.fillWidth: true
        Layout.preferredWidth: 1 // the two halves alike, whatever their titles
        topPadding: segment.compact ? 9 : 11
        bottomPadding: segment.compact ? 9 : 11
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
        id: flick
        objectName: "signInScroll"
        anchors.fill: parent
        clip: true
        contentHeight: markArea.height + body.implicitHeight + sheet.foot
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ThemedScrollBar {
            objectName: "signInScrollBar"
            overPicture: true
        }

        Item {
            id: markArea
            width: flick.width
            height: Math.max(sheet.markLeast,
                             Math.min(sheet.markFull, flick.height - body.implicitHeight - sheet.foot))
            // The white mark, lifted off the green by a soft shadow drawn once and kept.
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
                color: Theme.brandAccent
                // 128 × 134 at full size, 30 below the sheet's top edge; smaller alike with its room.
                height: markArea.height * 134 / sheet.markFull
                width: height * 128 / 134
                y: markArea.height * 30 / sheet.markFull
                anchors.horizontalCenter: parent.horizontalCenter
            }
        }

        ColumnLayout {
            id: body
            x: 26
            y: markArea.height
            width: flick.width - 52
            spacing: sheet.compact ? 12 : 22

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
                        compact: sheet.compact
                        objectName: "modeCreate"
                        text: qsTr("Create account")
                        selected: sheet.model.creating
                        onClicked: sheet.model.creating = true
                    }
                    Segment {
                        compact: sheet.compact
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
                    invalid: sheet.model.fieldsRefused
                    placeholderText: qsTr("Account name")
                    text: sheet.model.account
                    onTextEdited: sheet.model.account = text
                }
                SheetField {
                    objectName: "signInPassword"
                    invalid: sheet.model.fieldsRefused
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
                    invalid: sheet.model.fieldsRefused
                    visible: sheet.model.creating
                    placeholderText: qsTr("Signup code")
                    text: sheet.model.inviteCode
                    onTextEdited: sheet.model.inviteCode = text
                }
            }

            ErrorLine {
                objectName: "signInError"
                Layout.fillWidth: true
                text: sheet.model.error
            }

            Button {
                id: action
                objectName: "signInSubmit"
                Layout.fillWidth: true
                enabled: sheet.model.canSubmit
                opacity: enabled ? 1 : 0.55
                topPadding: sheet.compact ? 12 : 15
                bottomPadding: sheet.compact ? 12 : 15
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
                objectName: "signInPrivacy"
                text: qsTr("Your account keeps your machines in a private space. Your password is sent once over an encrypted connection and kept only as a one-way hash.")
                textFormat: Text.PlainText
                font.pixelSize: Look.caption
                color: Qt.rgba(1, 1, 1, 0.85)
            }
        }
    }
}
