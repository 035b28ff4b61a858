import QtQuick
import Qt5Compat.GraphicalEffects as Effects

// Frosted glass over a moving picture: the part of `source` that lies under this item, blurred and cut
// to a rounded rectangle, for a panel to lay its tint over. It follows the picture frame by frame while
// shown; hidden, it neither draws nor takes anything from the picture. Without a graphics card (the
// software renderer draws no blur) `active` is false, and the panel takes an opaque ground instead.
Item {
    id: glass
    property Item source: null
    property real radius: 18
    readonly property bool active: source !== null && visible && GraphicsInfo.api !== GraphicsInfo.Software

    z: -1
    enabled: false

    ShaderEffectSource {
        id: grab
        anchors.fill: parent
        visible: false
        sourceItem: glass.active ? glass.source : null
        live: glass.active
        // Where the glass lies over the picture, found again as either moves.
        sourceRect: {
            if (!glass.source)
                return Qt.rect(0, 0, 0, 0)
            glass.parent.x
            glass.parent.y
            glass.source.width
            glass.source.height
            return glass.mapToItem(glass.source, 0, 0, glass.width, glass.height)
        }
    }
    Effects.FastBlur {
        id: blur
        anchors.fill: parent
        visible: false
        source: grab
        radius: 40
    }
    Rectangle {
        id: shape
        anchors.fill: parent
        visible: false
        radius: glass.radius
    }
    Effects.OpacityMask {
        anchors.fill: parent
        visible: glass.active
        source: blur
        maskSource: shape
    }
}
