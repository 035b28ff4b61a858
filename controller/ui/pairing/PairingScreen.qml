import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Dovrel.Controller
import Dovrel.Look

// The pairing screen, in place of the deck: a share code in two boxes of four, a pasted pairing link,
// or an address (or relay room) and code typed by hand. Each way ends in one result the model hands
// to the root; Back returns to the deck. Every rule lives in the model; this file lays it out.
Item {
    id: screen
    required property PairingViewModel pairing

    component CardLabel: Row {
        id: label
        required property string text
        required property string icon
        spacing: 6
        Symbol {
            name: label.icon
            color: Theme.textDim
            anchors.verticalCenter: parent.verticalCenter
            size: 15
        }
        Text {
            text: label.text
            textFormat: Text.PlainText
            font.pixelSize: 13
            font.weight: Font.DemiBold
            color: Theme.textDim
        }
    }

    // The screen's Connect buttons: the shared accent button, with a symbol before its words, or a
    // spinner in their place while the request is under way.
    component CapsuleButton: ThemedButton {
        id: capsule
        property string glyph: ""
        property bool working: false
        property string title
        primary: true
        text: capsule.working ? "" : capsule.title
        leading: [
            Symbol {
                visible: capsule.glyph.length > 0 && !capsule.working
                name: capsule.glyph
                color: capsule.ink
                size: 15
            },
            Spinner {
                visible: capsule.working
                color: capsule.ink
            }
        ]
    }

    // One share-code box: four symbols, centred, monospaced; its edge lights while it has the focus.
    component CodeBox: WellField {
        id: box
        required property int field
        required property PairingViewModel model
        mono: true
        font.pixelSize: 20
        horizontalAlignment: TextInput.AlignHCenter
        implicitWidth: 120
        topPadding: 12
        bottomPadding: 12
        lit: box.model.codeFocus === box.field
        invalid: box.model.codeRefused
        inputMethodHints: Qt.ImhUppercaseOnly | Qt.ImhNoPredictiveText
        onActiveFocusChanged: {
            if (activeFocus)
                box.model.codeFocus = box.field
        }
        onAccepted: box.model.claimShareCode()
    }

    // One platform of the manual card's picker, a third of it.
    component PlatformSegment: Rectangle {
        id: segment
        required property PairingViewModel model
        required property string kind
        required property string title
        readonly property bool chosen: segment.model.manualKind === segment.kind
        // The width its title needs in the chosen weight, with a margin each side: choosing it moves
        // nothing.
        readonly property real need: Math.ceil(chosenTitle.advanceWidth) + 12
        objectName: "platform-" + segment.kind
        width: parent ? parent.width / 3 : 0
        height: parent ? parent.height : 0
        radius: Look.fieldCorner - 2
        color: segment.chosen ? (Theme.dark ? Qt.rgba(1, 1, 1, 0.18) : "white") : "transparent"
        TextMetrics {
            id: chosenTitle
            text: segment.title
            font.pixelSize: Look.detail
            font.weight: Font.DemiBold
        }
        Text {
            objectName: segment.objectName + "Title"
            anchors.centerIn: parent
            text: segment.title
            textFormat: Text.PlainText
            font.pixelSize: Look.detail
            font.weight: segment.chosen ? Font.DemiBold : Font.Normal
            color: Theme.text
        }
        MouseArea {
            anchors.fill: parent
            onClicked: segment.model.manualKind = segment.kind
        }
    }

    Connections {
        target: screen.pairing
        function onCodeFocusChanged() {
            if (screen.pairing.codeFocus === PairingViewModel.B && !codeB.activeFocus)
                codeB.forceActiveFocus()
        }
        // The field that says what is missing takes it.
        function onManualCodeErrorChanged() {
            if (screen.pairing.manualCodeError.length > 0)
                manualCode.forceActiveFocus()
        }
    }
    Component.onCompleted: screen.pairing.begin()

    // The window's buttons, level with the header.
    WindowButtons {
        objectName: "pairingWindowButtons"
        z: 1
        anchors.right: parent.right
        anchors.rightMargin: 24
        y: column.y + 20 - height / 2
    }

    Flickable {
        id: flick
        objectName: "pairingScroll"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: footnote.top
        // 16 above the column and as much below it; where the window is too short for the cards, they
        // scroll under a scroll bar that stays on the screen.
        contentHeight: Math.max(height, column.implicitHeight + 32)
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ThemedScrollBar {
            objectName: "pairingScrollBar"
        }
        clip: true

        ColumnLayout {
            id: column
            x: (parent.width - width) / 2
            y: 16
            width: Math.min(900, screen.width - 56)
            spacing: 12

            // The cards' height, which an error coming or going never changes, so that no button moves
            // under the pointer: what they hold without their errors and one error of three lines more,
            // or the room the window has when that is less; more only when what they hold needs it.
            readonly property real roomBelowHeader: flick.height - 2 * y - 40 - spacing
            readonly property real restHeight: Math.max(shareCard.restHeight + cardColumn.spacing + linkCard.restHeight,
                                                        manualCard.restHeight)
            readonly property real cardsHeight: Math.max(cardsNeed.implicitHeight,
                                                         Math.min(roomBelowHeader, restHeight + errorRoom.implicitHeight + 8))

            // The room a three-line error takes, as it would be drawn.
            ErrorLine {
                id: errorRoom
                visible: false
                width: 300
                text: "-\n-\n-"
            }

            // Header: Back, the title centred over the screen. It is the window's title area.
            Item {
                Layout.fillWidth: true
                implicitHeight: 40
                TitleDragArea {
                    anchors.fill: parent
                }
                Button {
                    id: back
                    objectName: "pairingBack"
                    anchors.verticalCenter: parent.verticalCenter
                    width: Theme.titleControl
                    height: Theme.titleControl
                    flat: true
                    background: Rectangle {
                        radius: height / 2
                        color: back.hovered ? Theme.card2 : "transparent"
                    }
                    contentItem: Item {
                        Symbol {
                            anchors.centerIn: parent
                            name: "chevron.left"
                            color: Theme.text
                            size: 16
                        }
                    }
                    onClicked: screen.pairing.cancel()
                }
                Text {
                    anchors.centerIn: parent
                    text: qsTr("Pair a machine")
                    textFormat: Text.PlainText
                    font.pixelSize: Look.title
                    font.weight: Font.DemiBold
                    color: Theme.text
                }
            }

            // The share code and the pasted link on the left, one over the other; the manual card on the
            // right, as tall as the two together, so that the three cards share their outer edges and each
            // Connect stands at its card's foot.
            RowLayout {
                id: cardsNeed
                Layout.fillWidth: true
                Layout.fillHeight: false
                Layout.preferredHeight: column.cardsHeight
                spacing: 16

                ColumnLayout {
                    id: cardColumn
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    spacing: 12

                    // A share code from the agent's window.
                    Card {
                        id: shareCard
                        objectName: "shareCard"
                        readonly property real restHeight: implicitHeight - (shareError.visible ? shareError.height + spacing : 0)
                        corner: 22
                        Layout.fillWidth: true
                        inset: 16
                        spacing: 10
                        CardLabel {
                            text: qsTr("Have a share code?")
                            icon: "text.bubble"
                        }
                        Text {
                            Layout.fillWidth: true
                            wrapMode: Text.Wrap
                            text: qsTr("Get it from the DOVRELÆ window on the computer you want to control - it looks like 7KQ4 M2XD.")
                            textFormat: Text.PlainText
                            font.pixelSize: Look.detail
                            color: Theme.textDimmer
                        }
                        RowLayout {
                            spacing: 10
                            Layout.fillWidth: true
                            CodeBox {
                                id: codeA
                                objectName: "codeA"
                                field: PairingViewModel.A
                                model: screen.pairing
                                placeholderText: "7KQ4"
                                text: screen.pairing.codeA
                                onTextEdited: screen.pairing.editCodeA(text)
                            }
                            Text {
                                text: "-"
                                textFormat: Text.PlainText
                                font.pixelSize: 22
                                font.weight: Font.DemiBold
                                color: Theme.textDim
                            }
                            CodeBox {
                                id: codeB
                                objectName: "codeB"
                                field: PairingViewModel.B
                                model: screen.pairing
                                placeholderText: "M2XD"
                                text: screen.pairing.codeB
                                onTextEdited: screen.pairing.editCodeB(text)
                            }
                            Item {
                                Layout.fillWidth: true
                            }
                            CapsuleButton {
                                objectName: "claimButton"
                                title: qsTr("Connect")
                                Layout.minimumWidth: 104
                                topPadding: 12
                                bottomPadding: 12
                                working: screen.pairing.claiming
                                enabled: screen.pairing.codeComplete && !screen.pairing.claiming
                                onClicked: screen.pairing.claimShareCode()
                            }
                        }
                        ErrorLine {
                            id: shareError
                            objectName: "shareError"
                            Layout.fillWidth: true
                            text: screen.pairing.shareError
                        }
                    }

                    // A pasted pairing link.
                    Card {
                        id: linkCard
                        objectName: "linkCard"
                        readonly property real restHeight: implicitHeight - (linkError.visible ? linkError.height + spacing : 0)
                        corner: 22
                        Layout.fillWidth: true
                        // Takes what the manual card's height leaves, its Connect at its foot.
                        Layout.fillHeight: true
                        inset: 16
                        spacing: 12
                        CardLabel {
                            text: qsTr("Paste the pairing link")
                            icon: "link"
                        }
                        Text {
                            Layout.fillWidth: true
                            wrapMode: Text.Wrap
                            textFormat: Text.StyledText
                            text: qsTr("On the computer you want to control, open the DOVRELÆ window and choose <b>Set up by hand ▸ Copy pairing link</b>. Paste the link below.")
                            font.pixelSize: Look.detail
                            color: Theme.textDimmer
                        }
                        WellField {
                            objectName: "linkField"
                            Layout.fillWidth: true
                            mono: true
                            corner: 11
                            padding: 11
                            invalid: screen.pairing.linkInvalid
                            placeholderText: qsTr("dovrel://pair?host=…&id=…&code=…")
                            text: screen.pairing.link
                            onTextEdited: screen.pairing.link = text
                            onAccepted: screen.pairing.connectFromLink()
                        }
                        ErrorLine {
                            id: linkError
                            objectName: "linkError"
                            Layout.fillWidth: true
                            text: screen.pairing.linkError
                        }
                        Item {
                            Layout.fillHeight: true
                        }
                        CapsuleButton {
                            objectName: "linkConnect"
                            Layout.fillWidth: true
                            title: qsTr("Connect")
                            glyph: "bolt.horizontal.fill"
                            enabled: screen.pairing.link.length > 0
                            onClicked: screen.pairing.connectFromLink()
                        }
                    }
                }

                // What the agent's window shows, typed by hand.
                Card {
                    id: manualCard
                    objectName: "manualCard"
                    readonly property real restHeight: implicitHeight
                                                       - (manualError.visible ? manualError.height + spacing : 0)
                                                       - (manualCodeError.visible ? manualCodeError.height + spacing : 0)
                    corner: 22
                    // Room for the name beside the platform's three segments.
                    Layout.preferredWidth: 360
                    Layout.fillHeight: true
                    inset: 16
                    spacing: 8
                    CardLabel {
                        text: qsTr("Or enter by hand")
                        icon: "keyboard"
                    }
                    Text {
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                        text: qsTr("Type what the DOVRELÆ window on the other computer shows under Set up by hand: its network address and its pairing code.")
                        textFormat: Text.PlainText
                        font.pixelSize: Look.detail
                        color: Theme.textDimmer
                    }
                    // The name, and beside it the platform as three equal segments as tall as the field: the
                    // row keeps its height whatever room the card has to spare.
                    RowLayout {
                        Layout.fillWidth: true
                        Layout.fillHeight: false
                        spacing: 8
                        WellField {
                            objectName: "manualName"
                            Layout.fillWidth: true
                            placeholderText: "Name"
                            text: screen.pairing.manualName
                            onTextEdited: screen.pairing.manualName = text
                        }
                        Rectangle {
                            objectName: "platformPicker"
                            Layout.preferredWidth: 3 * Math.max(windowsSegment.need, macSegment.need, linuxSegment.need)
                                                   + 2 * segments.anchors.margins
                            Layout.fillHeight: true
                            radius: Look.fieldCorner
                            color: Theme.card2
                            Row {
                                id: segments
                                anchors.fill: parent
                                anchors.margins: 2
                                PlatformSegment {
                                    id: windowsSegment
                                    model: screen.pairing
                                    kind: "windows"
                                    title: qsTr("Windows")
                                }
                                PlatformSegment {
                                    id: macSegment
                                    model: screen.pairing
                                    kind: "mac"
                                    title: qsTr("Mac")
                                }
                                PlatformSegment {
                                    id: linuxSegment
                                    model: screen.pairing
                                    kind: "linux"
                                    title: qsTr("Linux")
                                }
                            }
                        }
                    }
                    WellField {
                        objectName: "manualAddress"
                        Layout.fillWidth: true
                        mono: true
                        invalid: screen.pairing.manualAddressInvalid
                        placeholderText: qsTr("Network address or relay room")
                        inputMethodHints: Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
                        text: screen.pairing.manualAddress
                        onTextEdited: screen.pairing.manualAddress = text
                        onAccepted: screen.pairing.connectManual()
                    }
                    ErrorLine {
                        id: manualError
                        objectName: "manualError"
                        Layout.fillWidth: true
                        text: screen.pairing.manualError
                    }
                    WellField {
                        id: manualCode
                        objectName: "manualCode"
                        Layout.fillWidth: true
                        mono: true
                        invalid: screen.pairing.manualCodeError.length > 0
                        placeholderText: qsTr("Pairing code (6 digits)")
                        inputMethodHints: Qt.ImhDigitsOnly
                        text: screen.pairing.manualCode
                        onTextEdited: screen.pairing.editManualCode(text)
                        onAccepted: screen.pairing.connectManual()
                    }
                    ErrorLine {
                        id: manualCodeError
                        objectName: "manualCodeError"
                        Layout.fillWidth: true
                        text: screen.pairing.manualCodeError
                    }
                    // Which way the typed address goes, read before Connect.
                    Text {
                        objectName: "manualNote"
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                        text: screen.pairing.manualNote
                        textFormat: Text.PlainText
                        font.pixelSize: Look.caption
                        color: Theme.textDimmer
                    }
                    Item {
                        Layout.fillHeight: true
                    }
                    CapsuleButton {
                        objectName: "manualConnect"
                        Layout.fillWidth: true
                        title: qsTr("Connect")
                        enabled: screen.pairing.manualAddress.length > 0
                        onClicked: screen.pairing.connectManual()
                    }
                }
            }
        }
    }

    // Under the cards and always in view, however far they scroll.
    Text {
        id: footnote
        objectName: "pairingFootnote"
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 14
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(implicitWidth, parent.width - 56)
        topPadding: 8
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
        text: qsTr("Paired once with a one-time key (TOFU). The relay reaches your machine on any network.")
        textFormat: Text.PlainText
        font.pixelSize: Look.detail
        color: Theme.textDimmer
    }
}
