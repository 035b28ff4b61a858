import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// The deck until the machine cards arrive: the wordmark, the saved machines as plain rows (the
// chosen one opened, renamed or unpaired), the way to pair, the account and the appearance switch.
Item {
    id: deck
    required property RootViewModel root
    required property AppearanceModel appearance

    Row {
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: 18
        spacing: 10
        ThemedButton {
            objectName: "accountButton"
            text: deck.root.accountName.length > 0 ? deck.root.accountName : qsTr("Sign in")
            onClicked: deck.root.accountTapped()
        }
        ThemedButton {
            objectName: "appearanceButton"
            text: Theme.dark ? qsTr("Light") : qsTr("Dark")
            onClicked: deck.appearance.toggle()
        }
    }

    Column {
        anchors.centerIn: parent
        width: Math.min(parent.width - 80, 640)
        spacing: 22

        DovrelWordmark {
            objectName: "deckWordmark"
            anchors.horizontalCenter: parent.horizontalCenter
            height: 34
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: deck.root.machines.count > 0 ? qsTr("Your computers") : qsTr("See and drive your other computers.")
            font.pixelSize: 15
            color: Theme.textDim
        }

        ListView {
            id: machines
            objectName: "machineList"
            width: parent.width
            height: Math.min(contentHeight, 360)
            visible: count > 0
            clip: true
            spacing: 8
            model: deck.root.machines
            delegate: Card {
                id: row
                required property int index
                required property string name
                required property string host
                required property string state
                readonly property bool chosen: ListView.isCurrentItem
                corner: 12
                width: ListView.view.width
                height: 56
                border.color: chosen ? Theme.accent : Theme.stroke

                Column {
                    anchors.left: parent.left
                    anchors.leftMargin: 16
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 3
                    Text {
                        text: row.name
                        font.pixelSize: 14
                        font.weight: Font.DemiBold
                        color: Theme.text
                    }
                    Text {
                        text: (row.host.length > 0 ? row.host : qsTr("through the relay")) + " · " + row.state
                        font.pixelSize: 12
                        color: Theme.textDim
                    }
                }
                TapHandler {
                    onTapped: row.ListView.view.currentIndex = row.index
                }
            }
        }

        // The chosen machine's actions.
        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 10
            visible: machines.count > 0
            ThemedButton {
                objectName: "openMachine"
                primary: true
                text: qsTr("Open")
                onClicked: deck.root.open(machines.currentIndex)
            }
            ThemedButton {
                objectName: "renameMachine"
                text: qsTr("Rename")
                onClicked: deck.root.renameRequested(machines.currentIndex)
            }
            ThemedButton {
                objectName: "unpairMachine"
                text: qsTr("Unpair")
                onClicked: deck.root.unpairRequested(machines.currentIndex)
            }
        }

        ThemedButton {
            objectName: "pairButton"
            anchors.horizontalCenter: parent.horizontalCenter
            primary: machines.count === 0
            text: qsTr("Pair a computer")
            onClicked: deck.root.showPairing()
        }
    }
}
