import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// A large action on a card's back: the symbol over its title, both in the tint, on a rounded tile.
AbstractButton {
    id: tile
    required property string title
    required property string symbol
    required property color tint

    height: 54
    background: Rectangle {
        radius: 12
        color: Theme.card2
    }
    contentItem: Item {
        Column {
            anchors.centerIn: parent
            spacing: 6
            Symbol {
                anchors.horizontalCenter: parent.horizontalCenter
                size: 16
                name: tile.symbol
                color: tile.tint
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: tile.title
                textFormat: Text.PlainText
                font.pixelSize: 12
                font.weight: Font.Medium
                color: tile.tint
            }
        }
    }
}
