import QtQuick
import Qt5Compat.GraphicalEffects

// A soft shadow under a rounded rectangle the size of its parent: put it among the parent's children;
// it draws beneath the parent. One shader pass with nothing drawn offscreen and nothing that moves, so
// it costs next to nothing; without a graphics card (Qt Quick's software renderer) there is none.
RectangularGlow {
    // The shadow's softness, in points: how far beyond the edge it fades out.
    property real blur: 12
    // How far down it falls.
    property real offsetY: 0
    // The corner radius of the rectangle it lies under.
    property real corner: 0

    z: -1
    x: 0
    y: offsetY
    width: parent ? parent.width : 0
    height: parent ? parent.height : 0
    glowRadius: blur
    cornerRadius: corner + blur
    color: Qt.rgba(0, 0, 0, 0.4)
    spread: 0
    enabled: false
}
