import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// The pairing screen until the full one arrives: a way back to the deck.
Item {
    id: pairing
    required property RootViewModel root

    Card {
        anchors.centerIn: parent
        corner: 16
        width: 420
        height: 180

        Column {
            anchors.centerIn: parent
            spacing: 18
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("Add a computer")
                font.pixelSize: 20
                font.weight: Font.DemiBold
                color: Theme.text
            }
            ThemedButton {
                objectName: "cancelPairing"
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("Cancel")
                onClicked: pairing.root.cancelPairing()
            }
        }
    }
}
