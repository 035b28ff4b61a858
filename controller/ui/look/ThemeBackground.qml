import QtQuick
import QtQuick.Shapes

// The window's backdrop: a linear gradient from `Theme.bgTop` at the top-left corner to
// `Theme.bgBottom` at the bottom-right one.
Shape {
    id: ground
    property color topColor: Theme.bgTop
    property color bottomColor: Theme.bgBottom

    ShapePath {
        strokeWidth: -1
        fillGradient: LinearGradient {
            x1: 0
            y1: 0
            x2: ground.width
            y2: ground.height
            GradientStop {
                position: 0
                color: ground.topColor
            }
            GradientStop {
                position: 1
                color: ground.bottomColor
            }
        }
        startX: 0
        startY: 0
        PathLine {
            x: ground.width
            y: 0
        }
        PathLine {
            x: ground.width
            y: ground.height
        }
        PathLine {
            x: 0
            y: ground.height
        }
        PathLine {
            x: 0
            y: 0
        }
    }
}
