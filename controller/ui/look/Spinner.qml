import QtQuick
import QtQuick.Shapes
import Dovrel.Controller

// Work under way: three quarters of a ring turning, in `color`.
Item {
    id: spinner
    property color color: Theme.text
    // Turns only while it can be seen.
    readonly property bool running: Motion.shown
    readonly property real line: Math.max(1.5, width / 9)

    implicitWidth: 18
    implicitHeight: 18

    Shape {
        id: ring
        anchors.fill: parent
        antialiasing: true
        layer.enabled: true
        layer.samples: 4
        ShapePath {
            strokeColor: spinner.color
            strokeWidth: spinner.line
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            PathAngleArc {
                centerX: spinner.width / 2
                centerY: spinner.height / 2
                radiusX: (spinner.width - spinner.line) / 2
                radiusY: (spinner.height - spinner.line) / 2
                startAngle: -90
                sweepAngle: 270
            }
        }
        RotationAnimator on rotation {
            running: spinner.running
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
        }
    }
}
