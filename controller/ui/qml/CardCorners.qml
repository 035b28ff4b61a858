import QtQuick
import Dovrel.Controller
import QtQuick.Shapes

// Rounds the top corners of a picture that fills a card's top: without a mask effect in this Qt, the
// two corners outside the card's radius are painted over in the window's ground colour there.
Shape {
    id: corners
    property real radius: 22
    // The ground behind the card, taken a third of the way down the window's gradient.
    property color ground: Qt.tint(Theme.bgTop, Qt.alpha(Theme.bgBottom, 0.35))

    ShapePath {
        strokeWidth: -1
        fillColor: corners.ground
        startX: 0
        startY: 0
        PathLine { x: corners.radius; y: 0 }
        PathArc { x: 0; y: corners.radius; radiusX: corners.radius; radiusY: corners.radius; direction: PathArc.Counterclockwise }
        PathLine { x: 0; y: 0 }
    }
    ShapePath {
        strokeWidth: -1
        fillColor: corners.ground
        startX: corners.width
        startY: 0
        PathLine { x: corners.width; y: corners.radius }
        PathArc { x: corners.width - corners.radius; y: 0; radiusX: corners.radius; radiusY: corners.radius; direction: PathArc.Counterclockwise }
        PathLine { x: corners.width; y: 0 }
    }
}
