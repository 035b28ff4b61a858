pragma ComponentBehavior: Bound
import QtQuick
import Dovrel.Controller

// The remote machine's displays as tiles over a dimmed window; the streamed one is marked, a click
// switches to another. Each tile draws its display at the display's own proportions, with its symbol
// and number; names too long for a tile end in an ellipsis. A click beside the panel closes it.
Item {
    id: picker
    required property SessionViewModel session

    // A tile's room for its display, and the largest a display is drawn in it.
    readonly property size stage: Qt.size(132, 82)
    readonly property size screenBox: Qt.size(116, 72)

    Rectangle {
        anchors.fill: parent
        color: Qt.rgba(0, 0, 0, 0.32)
        MouseArea {
            objectName: "pickerBackdrop"
            anchors.fill: parent
            onClicked: picker.session.hud.showMonitors = false
        }
    }

    Rectangle {
        id: panel
        objectName: "displayPicker"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 90
        width: column.implicitWidth + 40
        height: column.implicitHeight + 40
        radius: 18
        // Opaque: the tiles are pictures of screens, and the picture under them must not show through.
        color: Theme.raisedDark
        border.color: Theme.strokeDark
        border.width: 1
        scale: picker.visible ? 1 : 0.92

        Shadow {
            blur: 24
            offsetY: 8
            corner: panel.radius
            color: Qt.rgba(0, 0, 0, 0.45)
        }
        MouseArea {
            // Clicks between the tiles stay on the panel.
            anchors.fill: parent
        }

        Column {
            id: column
            anchors.centerIn: parent
            spacing: 12
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("Displays")
                textFormat: Text.PlainText
                font.pixelSize: 15
                font.weight: Font.DemiBold
                color: "white"
            }
            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 12
                visible: picker.session.displays.length > 0
                Repeater {
                    model: picker.session.displays
                    Column {
                        id: tile
                        required property var modelData
                        required property int index
                        readonly property bool selected: picker.session.streamingDisplay === modelData.displayId
                        // The display at its own proportions, as large as the tile's box allows.
                        readonly property real aspect: modelData.width > 0 && modelData.height > 0
                                                       ? modelData.width / modelData.height : 16 / 10
                        readonly property real screenWidth: Math.min(picker.screenBox.width,
                                                                     picker.screenBox.height * aspect)
                        readonly property real screenHeight: screenWidth / aspect
                        objectName: "displayTile" + index
                        width: picker.stage.width
                        spacing: 6

                        Item {
                            width: picker.stage.width
                            height: picker.stage.height
                            Rectangle {
                                objectName: "displayScreen"
                                anchors.centerIn: parent
                                width: Math.round(tile.screenWidth)
                                height: Math.round(tile.screenHeight)
                                radius: 5
                                color: tile.selected ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.22)
                                                     : hover.hovered ? Qt.rgba(1, 1, 1, 0.12) : Qt.rgba(1, 1, 1, 0.07)
                                border.color: tile.selected ? Theme.accent : Theme.strokeDark
                                border.width: tile.selected ? 1.5 : 1
                                Row {
                                    anchors.centerIn: parent
                                    spacing: 5
                                    Symbol {
                                        anchors.verticalCenter: parent.verticalCenter
                                        name: "display"
                                        size: 15
                                        color: tile.selected ? Theme.accent : Theme.textDimDark
                                    }
                                    Text {
                                        objectName: "displayNumber"
                                        anchors.verticalCenter: parent.verticalCenter
                                        text: tile.index + 1
                                        textFormat: Text.PlainText
                                        font.pixelSize: 17
                                        font.weight: Font.DemiBold
                                        color: tile.selected ? "white" : Theme.textDimDark
                                    }
                                }
                            }
                        }
                        Text {
                            objectName: "displayName"
                            width: parent.width
                            horizontalAlignment: Text.AlignHCenter
                            text: tile.modelData.name
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            maximumLineCount: 1
                            font.pixelSize: 11
                            font.weight: Font.DemiBold
                            color: tile.selected ? "white" : Theme.textDimDark
                        }
                        Text {
                            width: parent.width
                            horizontalAlignment: Text.AlignHCenter
                            text: tile.modelData.width + "x" + tile.modelData.height
                            textFormat: Text.PlainText
                            font.pixelSize: 9
                            font.family: "monospace"
                            color: Theme.textDimmerDark
                        }
                        HoverHandler {
                            id: hover
                            cursorShape: Qt.PointingHandCursor
                        }
                        TapHandler {
                            onTapped: picker.session.chooseDisplay(tile.modelData.displayId)
                        }
                    }
                }
            }
            Text {
                objectName: "pickerEmpty"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: picker.session.displays.length === 0
                text: picker.session.demo ? qsTr("Main display - active") : qsTr("One display")
                textFormat: Text.PlainText
                font.pixelSize: 11
                font.family: "monospace"
                color: Theme.textDimDark
            }
        }
    }
}
