pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import Dovrel.Controller
import Dovrel.Look

// The deck: the header (mark, wordmark, appearance, "encrypted", account, Pair), then the saved
// machines as flip cards closed by the add tile, or the empty state inviting to pair; the usage footer
// under the cards. Opening, renaming, unpairing and the account are the root's; the deck only asks.
Item {
    id: deckScreen
    required property AppearanceModel appearance
    required property DeckViewModel deck

    Column {
        anchors.fill: parent
        spacing: 0

        // The header, which is the window's title area: a drag on it moves the window, its trailing
        // corner holds the window's buttons.
        Item {
            id: header
            width: parent.width
            height: 22 + headerRow.height + 8
            TitleDragArea {
                anchors.fill: parent
            }
            Row {
                id: headerRow
                x: 24
                y: 22
                width: parent.width - 48
                height: Theme.titleControl
                spacing: 12

                DovrelMark {
                    objectName: "deckMark"
                    anchors.verticalCenter: parent.verticalCenter
                    width: 28
                    height: 28
                }
                DovrelWordmark {
                    objectName: "deckWordmark"
                    anchors.verticalCenter: parent.verticalCenter
                    height: 24
                }
                Item {
                    width: Math.max(0, headerRow.width - x - headerRow.spacing - trailing.width)
                    height: 1
                }
                Row {
                    id: trailing
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 12

                    // The appearance toggle: the moon in light, the sun otherwise.
                    AbstractButton {
                        id: appearanceToggle
                        objectName: "appearanceToggle"
                        readonly property bool light: deckScreen.appearance.preference === "light"
                        anchors.verticalCenter: parent.verticalCenter
                        width: Theme.titleControl
                        height: Theme.titleControl
                        onClicked: deckScreen.appearance.toggle()
                        ThemedToolTip {
                            objectName: "appearanceTip"
                            // Shown while the pointer rests on the toggle; a click changes its words
                            // with the appearance.
                            visible: appearanceToggle.hovered
                            text: appearanceToggle.light ? qsTr("Switch to dark") : qsTr("Switch to light")
                        }
                        background: Rectangle {
                            radius: height / 2
                            color: Theme.card
                            border.color: Qt.alpha(Theme.accent, 0.5)
                            border.width: 1
                        }
                        contentItem: Item {
                            Symbol {
                                anchors.centerIn: parent
                                width: 15
                                height: 15
                                name: appearanceToggle.light ? "moon.fill" : "sun.max.fill"
                                color: Theme.accentInk
                            }
                        }
                    }

                    // The encryption badge, not clickable.
                    Rectangle {
                        objectName: "encryptedBadge"
                        anchors.verticalCenter: parent.verticalCenter
                        width: badgeRow.width + 24
                        height: Theme.titleControl
                        radius: height / 2
                        color: Theme.card
                        Row {
                            id: badgeRow
                            anchors.centerIn: parent
                            spacing: 6
                            Symbol {
                                anchors.verticalCenter: parent.verticalCenter
                                size: 12
                                name: "lock.fill"
                                color: Theme.goodInk
                            }
                            Text {
                                anchors.verticalCenter: parent.verticalCenter
                                text: qsTr("encrypted")
                                textFormat: Text.PlainText
                                font.pixelSize: 12
                                font.weight: Font.Medium
                                color: Theme.textDim
                            }
                        }
                    }

                    // The account chip.
                    AbstractButton {
                        id: accountChip
                        objectName: "accountChip"
                        readonly property bool signedIn: deckScreen.deck.accountName.length > 0
                        anchors.verticalCenter: parent.verticalCenter
                        height: Theme.titleControl
                        leftPadding: 12
                        rightPadding: 12
                        onClicked: deckScreen.deck.account()
                        ThemedToolTip {
                            visible: accountChip.hovered
                            text: accountChip.signedIn ? qsTr("Signed in - click to sign out")
                                                       : qsTr("Sign in to keep your machines in a private space on the relay")
                        }
                        background: Rectangle {
                            radius: height / 2
                            color: Qt.alpha(Theme.accent, 0.16)
                            border.color: Theme.accent
                            border.width: 1
                        }
                        contentItem: Row {
                            spacing: 7
                            Symbol {
                                anchors.verticalCenter: parent.verticalCenter
                                size: 15
                                name: accountChip.signedIn ? "person.crop.circle.fill" : "person.crop.circle.badge.questionmark"
                                color: Theme.text
                            }
                            Text {
                                objectName: "accountChipText"
                                anchors.verticalCenter: parent.verticalCenter
                                text: accountChip.signedIn ? deckScreen.deck.accountName : qsTr("Sign in")
                                textFormat: Text.PlainText
                                maximumLineCount: 1
                                elide: Text.ElideRight
                                font.pixelSize: 13
                                font.weight: Font.Medium
                                color: Theme.text
                            }
                        }
                    }

                    // The Pair button.
                    AbstractButton {
                        objectName: "pairButton"
                        anchors.verticalCenter: parent.verticalCenter
                        height: Theme.titleControl
                        leftPadding: 14
                        rightPadding: 14
                        onClicked: deckScreen.deck.pair()
                        background: Rectangle {
                            radius: height / 2
                            color: Theme.accent
                        }
                        contentItem: Row {
                            spacing: 7
                            Symbol {
                                anchors.verticalCenter: parent.verticalCenter
                                size: 13
                                name: "plus"
                                color: Theme.accentLabel
                            }
                            Text {
                                anchors.verticalCenter: parent.verticalCenter
                                text: qsTr("Pair")
                                textFormat: Text.PlainText
                                font.pixelSize: 14
                                font.weight: Font.DemiBold
                                color: Theme.accentLabel
                            }
                        }
                    }

                    // Set apart from the deck's own controls.
                    Item {
                        width: 6
                        height: 1
                        visible: windowButtons.visible
                    }
                    WindowButtons {
                        id: windowButtons
                        objectName: "deckWindowButtons"
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
            }
        }

        // The cards and the add tile; the empty state instead when nothing is saved.
        Item {
            width: parent.width
            height: parent.height - header.height - (footer.visible ? footer.height : 0)

            Flickable {
                id: grid
                objectName: "deckGrid"
                anchors.fill: parent
                visible: deckScreen.deck.count > 0
                clip: true
                contentWidth: width
                contentHeight: cells.height + 48
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ThemedScrollBar {}

                // As many columns of at least 320 points as fit, 18 apart, sharing the width.
                readonly property real inner: width - 48
                readonly property int columns: Math.max(1, Math.floor((inner + 18) / (320 + 18)))
                readonly property real cellWidth: (inner - 18 * (columns - 1)) / columns

                Grid {
                    id: cells
                    x: 24
                    y: 24
                    columns: grid.columns
                    columnSpacing: 18
                    rowSpacing: 18

                    Repeater {
                        objectName: "cards"
                        model: deckScreen.deck.machines
                        delegate: MachineCard {
                            width: grid.cellWidth
                            demo: deckScreen.deck.demo
                            onOpen: deckScreen.deck.open(index)
                            onFrost: deckScreen.deck.toggleFrost(index)
                            onRename: deckScreen.deck.rename(index)
                            onUnpair: deckScreen.deck.unpair(index)
                        }
                    }

                    // The add tile, always last, as tall as a card so that a row's edges line up.
                    AbstractButton {
                        objectName: "addTile"
                        width: grid.cellWidth
                        height: 210
                        onClicked: deckScreen.deck.pair()
                        background: DashedTile {}
                        contentItem: Item {
                            Column {
                                anchors.centerIn: parent
                                spacing: 10
                                Symbol {
                                    anchors.horizontalCenter: parent.horizontalCenter
                                    size: 22
                                    name: "plus"
                                    color: Theme.textDim
                                }
                                Text {
                                    text: qsTr("Pair another machine")
                                    textFormat: Text.PlainText
                                    font.pixelSize: 13
                                    font.weight: Font.Medium
                                    color: Theme.textDim
                                }
                            }
                        }
                    }
                }
            }

            Column {
                objectName: "emptyState"
                anchors.centerIn: parent
                visible: deckScreen.deck.count === 0
                spacing: 14

                Symbol {
                    anchors.horizontalCenter: parent.horizontalCenter
                    size: 44
                    name: "display.2"
                    color: Theme.textDimmer
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: qsTr("No machines yet")
                    textFormat: Text.PlainText
                    font.pixelSize: 20
                    font.weight: Font.DemiBold
                    color: Theme.text
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: Math.min(380, implicitWidth)
                    text: qsTr("Open DOVRELÆ on the computer you want to reach, then press Pair a machine and paste its pairing link - or type the address and six-digit code its window shows.")
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: 13
                    color: Theme.textDim
                }
                Item {
                    width: 1
                    height: 4
                }
                AbstractButton {
                    objectName: "emptyPairButton"
                    anchors.horizontalCenter: parent.horizontalCenter
                    leftPadding: 18
                    rightPadding: 18
                    topPadding: 10
                    bottomPadding: 10
                    onClicked: deckScreen.deck.pair()
                    background: Rectangle {
                        radius: height / 2
                        color: Theme.accent
                    }
                    contentItem: Text {
                        text: qsTr("Pair a machine")
                        textFormat: Text.PlainText
                        font.pixelSize: 14
                        font.weight: Font.DemiBold
                        color: Theme.accentLabel
                    }
                }
            }
        }

        UsageFooter {
            id: footer
            objectName: "usageFooter"
            width: parent.width
            visible: deckScreen.deck.count > 0
            tokensText: deckScreen.deck.tokensText
        }
    }
}
