pragma ComponentBehavior: Bound
import QtQuick
import Dovrel.Controller

// The session window's help card over a dimmed window: six lines on driving the remote machine, dark
// in either appearance. Its close button or a click beside it dismisses it.
Item {
    id: guide
    required property SessionViewModel session
    signal closed

    Rectangle {
        anchors.fill: parent
        color: Qt.rgba(0, 0, 0, 0.45)
        MouseArea {
            anchors.fill: parent
            onClicked: guide.closed()
        }
    }

    Rectangle {
        objectName: "controlsGuide"
        anchors.centerIn: parent
        width: 440
        // As tall as its lines need, so that no empty band hangs under the last one.
        height: lines.implicitHeight + 44
        radius: 14
        clip: true
        gradient: Gradient {
            orientation: Gradient.Vertical
            GradientStop {
                position: 0
                color: Theme.darkBgTop
            }
            GradientStop {
                position: 1
                color: Theme.darkBgBottom
            }
        }
        border.color: Theme.strokeDark
        border.width: 1
        MouseArea {
            anchors.fill: parent
        }

        Column {
            id: lines
            x: 22
            y: 22
            width: parent.width - 44
            spacing: 16

            Item {
                width: parent.width
                height: 30
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: qsTr("Controls")
                    textFormat: Text.PlainText
                    font.pixelSize: 20
                    font.bold: true
                    color: "white"
                }
                Rectangle {
                    objectName: "guideClose"
                    anchors.right: parent.right
                    width: 30
                    height: 30
                    radius: 15
                    color: Qt.rgba(1, 1, 1, 0.12)
                    Symbol {
                        anchors.centerIn: parent
                        name: "xmark"
                        size: 11
                        color: "white"
                    }
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: guide.closed()
                    }
                }
            }

            Repeater {
                model: [
                    ["cursorarrow.motionlines", qsTr("Move your pointer over the video to drive the remote cursor")],
                    ["cursorarrow.click.2", qsTr("Click, right-click, and drag exactly as usual")],
                    ["arrow.up.and.down.and.arrow.left.and.right", qsTr("Scroll (touchpad or wheel) scrolls the remote")],
                    ["keyboard", guide.session.guideKeys],
                    ["circle.grid.cross.fill", guide.session.guideShortcuts],
                    ["speaker.wave.2.fill", qsTr("Mute the remote audio from the speaker button; ⤢ goes full-screen")]
                ]
                Row {
                    id: line
                    required property var modelData
                    width: parent.width
                    spacing: 12
                    Item {
                        width: 26
                        height: 18
                        Symbol {
                            anchors.centerIn: parent
                            name: line.modelData[0]
                            size: 17
                            color: Theme.accent
                        }
                    }
                    Text {
                        width: line.width - 38
                        text: line.modelData[1]
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font.pixelSize: 13
                        color: Theme.textDimDark
                    }
                }
            }
        }
    }
}
