pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Shapes
import Dovrel.Controller

// The action wheel: the model's buttons, all of one size, on an arc above the centre, fanning out one
// after another as it opens and collapsing together as it closes; a faint ring through them and a hub
// at its centre hold them together. It only lays out and reports presses.
Item {
    id: radial
    required property RadialWheelModel model
    property bool open: false
    signal activated(int row)

    width: model.frameWidth
    height: model.frameHeight

    // The ring the buttons sit on, over the top from the first button to the last, and its hub.
    Item {
        id: ring
        anchors.fill: parent
        enabled: false
        opacity: radial.open ? 1 : 0
        Behavior on opacity {
            NumberAnimation {
                duration: Theme.springyMs
            }
        }
        Shape {
            anchors.fill: parent
            antialiasing: true
            ShapePath {
                fillColor: "transparent"
                strokeColor: Qt.rgba(1, 1, 1, 0.24)
                strokeWidth: 2
                capStyle: ShapePath.RoundCap
                PathAngleArc {
                    centerX: radial.width / 2
                    centerY: radial.model.centerY
                    radiusX: radial.model.radius
                    radiusY: radial.model.radius
                    startAngle: radial.model.arcStartDegrees
                    sweepAngle: radial.model.arcSweepDegrees
                }
            }
        }
        Rectangle {
            objectName: "wheelHub"
            x: radial.width / 2 - width / 2
            y: radial.model.centerY - height / 2
            width: 40
            height: 40
            radius: 20
            color: Theme.material
            border.color: Qt.rgba(1, 1, 1, 0.16)
            border.width: 1.5
            DovrelMark {
                anchors.centerIn: parent
                width: 16
                height: 16
            }
        }
    }

    Repeater {
        model: radial.model
        Rectangle {
            id: button
            required property int index
            required property string label
            required property string icon
            required property string tint
            required property real offsetX
            required property real offsetY
            required property int delayMs
            readonly property color tintColor: tint === "warn" ? Theme.warn : tint === "bad" ? Theme.bad : "white"

            objectName: "wheelAction-" + label
            width: radial.model.buttonWidth
            height: radial.model.buttonHeight
            x: radial.width / 2 - width / 2 + (radial.open ? offsetX : 0)
            y: radial.model.centerY - height / 2 + (radial.open ? offsetY : 0)
            opacity: radial.open ? 1 : 0
            scale: radial.open ? 1 : 0.4
            enabled: radial.open
            radius: 16
            color: Theme.material
            border.color: Theme.stroke
            border.width: 1

            Behavior on x {
                SequentialAnimation {
                    PauseAnimation {
                        duration: radial.open ? button.delayMs : 0
                    }
                    NumberAnimation {
                        duration: Theme.springyMs
                        easing.type: Theme.springyEasing
                    }
                }
            }
            Behavior on y {
                SequentialAnimation {
                    PauseAnimation {
                        duration: radial.open ? button.delayMs : 0
                    }
                    NumberAnimation {
                        duration: Theme.springyMs
                        easing.type: Theme.springyEasing
                    }
                }
            }
            Behavior on opacity {
                NumberAnimation {
                    duration: Theme.springyMs
                }
            }
            Behavior on scale {
                NumberAnimation {
                    duration: Theme.springyMs
                    easing.type: Theme.springyEasing
                }
            }

            Column {
                anchors.centerIn: parent
                spacing: 3
                Symbol {
                    anchors.horizontalCenter: parent.horizontalCenter
                    name: button.icon
                    size: 18
                    color: button.tintColor
                }
                // The buttons are made wide enough for every label's longest word: none is shrunk, and
                // a label of two words wider than its button takes two lines.
                Text {
                    objectName: "wheelLabel"
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: button.width - 12
                    horizontalAlignment: Text.AlignHCenter
                    text: button.label
                    textFormat: Text.PlainText
                    wrapMode: Text.WordWrap
                    maximumLineCount: 2
                    lineHeight: 0.95
                    font.pixelSize: radial.model.labelSize
                    font.weight: Font.Medium
                    color: button.tintColor
                }
            }
            MouseArea {
                anchors.fill: parent
                onClicked: radial.activated(button.index)
            }
        }
    }
}
