import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// The deck until the machine cards arrive: the wordmark, the appearance switch and the way to pair.
Item {
    id: deck
    required property RootViewModel root
    required property AppearanceModel appearance

    Column {
        anchors.centerIn: parent
        spacing: 26

        DovrelWordmark {
            objectName: "deckWordmark"
            anchors.horizontalCenter: parent.horizontalCenter
            height: 34
            dark: Theme.dark
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("See and drive your other computers.")
            font.pixelSize: 15
            color: Theme.textDim
        }
        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 12
            ThemedButton {
                objectName: "pairButton"
                primary: true
                text: qsTr("Pair a computer")
                onClicked: deck.root.showPairing()
            }
            ThemedButton {
                objectName: "appearanceButton"
                text: Theme.dark ? qsTr("Light") : qsTr("Dark")
                onClicked: deck.appearance.toggle()
            }
        }
    }
}
