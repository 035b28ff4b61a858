import QtQuick
import QtQuick.Controls.Basic

// An on/off switch that reads the right way round: on is the accent green with the knob at the right,
// off a dim track with the knob at the left. Over the remote picture (and the panels that stay dark)
// the off track keeps its dark colours in either appearance.
Switch {
    id: control
    property bool overPicture: false
    readonly property bool darkGround: control.overPicture || Look.dark
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
        color: control.checked ? Look.accent : control.darkGround ? Qt.rgba(1, 1, 1, 0.16) : Qt.rgba(0, 0, 0, 0.12)
        border.color: control.checked ? "transparent" : control.darkGround ? Qt.rgba(1, 1, 1, 0.28) : Qt.rgba(0, 0, 0, 0.16)
        border.width: 1
        opacity: control.enabled ? 1 : 0.5
        Behavior on color {
            ColorAnimation {
                duration: Look.springMs
            }
        }
        Rectangle {
            width: 20
            height: 20
            radius: 10
            y: 2
            x: control.checked ? parent.width - width - 2 : 2
            color: "white"
            border.color: Qt.rgba(0, 0, 0, control.darkGround ? 0 : 0.12)
            border.width: 1
            Behavior on x {
                NumberAnimation {
                    duration: Look.springMs
                    easing.type: Look.springEasing
                }
            }
        }
    }
    contentItem: null
}
