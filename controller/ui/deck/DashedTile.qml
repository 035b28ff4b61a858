import QtQuick
import Dovrel.Controller
import QtQuick.Shapes

// The add tile's ground: a faint rounded card under a dashed outline, 6 on and 5 off, with the cards'
// corner radius so that the tile reads as an empty place in their grid.
Item {
    id: tile
    property real radius: 22
    // The outline runs half a line inside the edge, on a radius as much smaller.
    readonly property real inset: 0.5
    readonly property real bend: radius - inset

    Rectangle {
        anchors.fill: parent
        radius: tile.radius
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
            startX: tile.radius
            startY: tile.inset
            PathLine { x: tile.width - tile.radius; y: tile.inset }
            PathArc { x: tile.width - tile.inset; y: tile.radius; radiusX: tile.bend; radiusY: tile.bend }
            PathLine { x: tile.width - tile.inset; y: tile.height - tile.radius }
            PathArc { x: tile.width - tile.radius; y: tile.height - tile.inset; radiusX: tile.bend; radiusY: tile.bend }
            PathLine { x: tile.radius; y: tile.height - tile.inset }
            PathArc { x: tile.inset; y: tile.height - tile.radius; radiusX: tile.bend; radiusY: tile.bend }
            PathLine { x: tile.inset; y: tile.radius }
            PathArc { x: tile.radius; y: tile.inset; radiusX: tile.bend; radiusY: tile.bend }
        }
    }
}
