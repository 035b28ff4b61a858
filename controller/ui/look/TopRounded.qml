import QtQuick
import QtQuick.Shapes

// A rectangle whose two top corners are rounded by `radius`, filled with `fill` or with `gradient`:
// a layer at the top of a card, cut to the card's own corners rather than painted over outside them.
// When the rectangle is lower than the radius it is the top band of such a shape (a menu bar).
Shape {
    id: shape
    property real radius: 22
    property color fill: "transparent"
    property ShapeGradient gradient: null
    // Smooth corners where the picture is drawn on the graphics card too; off inside a layer that is
    // shrunk smoothly anyway.
    property bool smoothEdges: true

    antialiasing: true
    layer.enabled: smoothEdges
    layer.samples: 4

    ShapePath {
        id: path
        strokeWidth: -1
        strokeColor: "transparent"
        // Qt Quick's shape renderer on the graphics card skips a fill whose colour is transparent even
        // when a gradient is given (the software renderer draws it): a gradient needs an opaque colour.
        fillColor: shape.gradient ? "black" : shape.fill
        fillGradient: shape.gradient
        PathSvg {
            path: shape.outline(shape.width, shape.height, shape.radius)
        }
    }

    // The outline of a w × h band at the top of a rectangle whose top corners are rounded by r. Where
    // the band is lower than the radius, its sides follow the corners' arcs down to its foot.
    function outline(w: real, band: real, r: real): string {
        if (r <= 0)
            return "M 0 0 L " + w + " 0 L " + w + " " + band + " L 0 " + band + " Z"
        if (band >= r)
            return "M 0 " + band + " L 0 " + r + " A " + r + " " + r + " 0 0 1 " + r + " 0 L " + (w - r) + " 0 A " + r
                    + " " + r + " 0 0 1 " + w + " " + r + " L " + w + " " + band + " Z"
        const inset = r - Math.sqrt(r * r - (r - band) * (r - band))
        return "M " + inset + " " + band + " A " + r + " " + r + " 0 0 1 " + r + " 0 L " + (w - r) + " 0 A " + r + " "
                + r + " 0 0 1 " + (w - inset) + " " + band + " Z"
    }
}
