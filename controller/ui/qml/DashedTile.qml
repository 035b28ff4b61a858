import QtQuick
import Dovrel.Controller
import QtQuick.Shapes

// The add tile's ground: a faint rounded card (radius 16) under a dashed outline, 6 on and 5 off.
Item {
    id: tile

    Rectangle {
        anchors.fill: parent
        radius: 16
        color: Qt.alpha(Theme.card, Theme.card.a * 0.35)
    }
    Shape {
        anchors.fill: parent
        ShapePath {
            strokeColor: Theme.stroke
            strokeWidth: 1
            fillColor: "transparent"
            strokeStyle: ShapePath.DashLine
            dashPattern: [6, 5]
            capStyle: ShapePath.FlatCap
            joinStyle: ShapePath.MiterJoin
            miterLimit: 10
            startX: 16.5
            startY: 0.5
            PathLine { x: tile.width - 16.5; y: 0.5 }
            PathArc { x: tile.width - 0.5; y: 16.5; radiusX: 16; radiusY: 16 }
            PathLine { x: tile.width - 0.5; y: tile.height - 16.5 }
            PathArc { x: tile.width - 16.5; y: tile.height - 0.5; radiusX: 16; radiusY: 16 }
            PathLine { x: 16.5; y: tile.height - 0.5 }
            PathArc { x: 0.5; y: tile.height - 16.5; radiusX: 16; radiusY: 16 }
            PathLine { x: 0.5; y: 16.5 }
            PathArc { x: 16.5; y: 0.5; radiusX: 16; radiusY: 16 }
        }
    }
}
