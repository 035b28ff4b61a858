import QtQuick
import QtQuick.Shapes

// The error's mark: a round disc in `color` with an exclamation mark cut out of it, drawn on a 24 × 24
// grid and scaled to `size`.
Item {
    id: mark
    property color color: Look.error
    property real size: 14
    implicitWidth: size
    implicitHeight: size

    Shape {
        width: 24
        height: 24
        scale: mark.size / 24
        transformOrigin: Item.TopLeft
        antialiasing: true
        layer.enabled: true
        layer.samples: 4
        ShapePath {
            fillColor: mark.color
            strokeColor: "transparent"
            fillRule: ShapePath.OddEvenFill
            PathSvg {
                path: "M2 12a10 10 0 1 0 20 0a10 10 0 1 0 -20 0Z M10.7 6.2 H13.3 L12.85 14.2 H11.15Z M10.6 17.4a1.4 1.4 0 1 0 2.8 0a1.4 1.4 0 1 0 -2.8 0Z"
            }
        }
    }
}
