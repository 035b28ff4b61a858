import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// The pairing screen until the full one arrives: a pairing link, or a computer's address on this
// network with the six-digit code it shows.
Item {
    id: pairing
    required property RootViewModel root
    property string error: ""

    function connect() {
        const target = address.text.trim()
        if (target.startsWith("dovrel://")) {
            if (!pairing.root.connectLink(target))
                pairing.error = qsTr("That is not a pairing link this version understands.")
            return
        }
        if (target.length === 0) {
            pairing.error = qsTr("Type the computer's address or paste its pairing link.")
            return
        }
        pairing.root.connectLAN(target, name.text.trim().length > 0 ? name.text.trim() : target,
                                code.text.trim(), "linux")
    }

    Card {
        anchors.centerIn: parent
        corner: 16
        width: 440
        height: form.implicitHeight + 48

        Column {
            id: form
            anchors.centerIn: parent
            width: parent.width - 48
            spacing: 12

            Text {
                text: qsTr("Add a computer")
                font.pixelSize: 20
                font.weight: Font.DemiBold
                color: Theme.text
            }
            Text {
                width: parent.width
                wrapMode: Text.Wrap
                text: qsTr("Its address on this network and the code it shows, or its pairing link.")
                font.pixelSize: 13
                color: Theme.textDim
            }
            TextField {
                id: address
                objectName: "pairAddress"
                width: parent.width
                placeholderText: qsTr("Address (192.168.1.20) or dovrel://pair?…")
                onTextEdited: pairing.error = ""
                onAccepted: pairing.connect()
            }
            TextField {
                id: code
                objectName: "pairCode"
                width: parent.width
                placeholderText: qsTr("Pairing code")
                inputMethodHints: Qt.ImhDigitsOnly
                onAccepted: pairing.connect()
            }
            TextField {
                id: name
                objectName: "pairName"
                width: parent.width
                placeholderText: qsTr("Name (optional)")
                onAccepted: pairing.connect()
            }
            Text {
                visible: pairing.error.length > 0
                width: parent.width
                wrapMode: Text.Wrap
                text: pairing.error
                font.pixelSize: 12
                color: Theme.bad
            }
            Row {
                spacing: 10
                ThemedButton {
                    objectName: "connectPairing"
                    primary: true
                    text: qsTr("Connect")
                    onClicked: pairing.connect()
                }
                ThemedButton {
                    objectName: "cancelPairing"
                    text: qsTr("Cancel")
                    onClicked: pairing.root.cancelPairing()
                }
            }
        }
    }
}
