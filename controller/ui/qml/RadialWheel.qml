pragma ComponentBehavior: Bound
import QtQuick
import Dovrel.Controller

// The action wheel: the model's buttons on an arc above the centre, fanning out one after another as
// it opens and collapsing together as it closes. It only lays out and reports presses.
Item {
    id: radial
    required property RadialWheelModel model
    property bool open: false
    signal activated(int row)

    width: model.frameWidth
    height: model.frameHeight

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
            required property real buttonWidth
            readonly property color tintColor: tint === "warn" ? Theme.warn : tint === "bad" ? Theme.bad : "white"

            objectName: "wheelAction-" + label
            width: buttonWidth
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
                // The button is made wide enough for its label: none is shrunk.
                Text {
                    objectName: "wheelLabel"
                    anchors.horizontalCenter: parent.horizontalCenter
                    horizontalAlignment: Text.AlignHCenter
                    text: button.label
                    textFormat: Text.PlainText
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
