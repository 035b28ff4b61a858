pragma ComponentBehavior: Bound
import QtQuick
import Dovrel.Controller

// The remote machine's displays as tiles over a dimmed window; the streamed one is marked, a click
// switches to another. A click beside the panel closes it.
Item {
    id: picker
    required property SessionViewModel session

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
        color: Theme.material
        border.color: Theme.strokeDark
        border.width: 1
        scale: picker.visible ? 1 : 0.92

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
                        objectName: "displayTile" + index
                        spacing: 5
                        Rectangle {
                            width: 132
                            height: 82
                            radius: 6
                            color: Qt.rgba(1, 1, 1, tile.selected ? 0.18 : 0.07)
                            border.color: tile.selected ? Theme.accent : Theme.strokeDark
                            border.width: 1
                        }
                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: tile.modelData.name
                            textFormat: Text.PlainText
                            font.pixelSize: 11
                            font.weight: Font.DemiBold
                            color: tile.selected ? "white" : Theme.textDimDark
                        }
                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: tile.modelData.width + "x" + tile.modelData.height
                            textFormat: Text.PlainText
                            font.pixelSize: 9
                            font.family: "monospace"
                            color: Theme.textDimmerDark
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
        MouseArea {
            // Clicks between the tiles stay on the panel.
            anchors.fill: parent
            z: -1
        }
    }
}
