import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// An on/off switch that reads the right way round: on is the accent green with the knob at the right,
// off a dim track with the knob at the left.
Switch {
    id: control
    padding: 0
    spacing: 0
    implicitWidth: 40
    implicitHeight: 24
    indicator: Rectangle {
        implicitWidth: 40
        implicitHeight: 24
        x: control.leftPadding
        y: (control.height - height) / 2
        radius: height / 2
        color: control.checked ? Theme.accent : Qt.rgba(1, 1, 1, 0.16)
        border.color: control.checked ? "transparent" : Qt.rgba(1, 1, 1, 0.28)
        border.width: 1
        opacity: control.enabled ? 1 : 0.5
        Behavior on color {
            ColorAnimation {
                duration: Theme.springMs
            }
        }
        Rectangle {
            width: 20
            height: 20
            radius: 10
            y: 2
            x: control.checked ? parent.width - width - 2 : 2
            color: "white"
            Behavior on x {
                NumberAnimation {
                    duration: Theme.springMs
                    easing.type: Theme.springEasing
                }
            }
        }
    }
    contentItem: null
}
