pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Window

// The window's edges and corners, a few points wide and invisible, which resize the window as a frame
// would: a drag from one hands the pointer to the window manager, which resizes from that edge. Only
// while the window has its own size (not maximised, not in full screen), and never over `keepClear`
// (a session's picture, whose every pixel is the remote machine's): there an edge is only as wide as
// the band beside it, none where the picture reaches the window's edge.
Item {
    id: edges
    // How far in from the window's edge a drag resizes, and how far along from a corner it takes both
    // of the corner's edges.
    property int margin: 5
    property int corner: 14
    property rect keepClear: Qt.rect(0, 0, 0, 0)
    visible: WindowActions.windowed(Window.window)

    // How deep each edge reaches: the margin, or less where it would cover `keepClear`.
    readonly property bool clearing: keepClear.width > 0 && keepClear.height > 0
    function depth(room: real): int {
        return clearing ? Math.max(0, Math.min(margin, Math.floor(room))) : margin
    }
    readonly property int leftDepth: depth(keepClear.x)
    readonly property int topDepth: depth(keepClear.y)
    readonly property int rightDepth: depth(width - keepClear.x - keepClear.width)
    readonly property int bottomDepth: depth(height - keepClear.y - keepClear.height)

    component Edge: WindowGrip {
        visible: width > 0 && height > 0
    }

    Edge {
        objectName: "resizeLeft"
        sides: Qt.LeftEdge
        y: edges.corner
        width: edges.leftDepth
        height: parent.height - 2 * edges.corner
        cursorShape: Qt.SizeHorCursor
    }
    Edge {
        objectName: "resizeRight"
        sides: Qt.RightEdge
        x: parent.width - width
        y: edges.corner
        width: edges.rightDepth
        height: parent.height - 2 * edges.corner
        cursorShape: Qt.SizeHorCursor
    }
    Edge {
        objectName: "resizeTop"
        sides: Qt.TopEdge
        x: edges.corner
        width: parent.width - 2 * edges.corner
        height: edges.topDepth
        cursorShape: Qt.SizeVerCursor
    }
    Edge {
        objectName: "resizeBottom"
        sides: Qt.BottomEdge
        x: edges.corner
        y: parent.height - height
        width: parent.width - 2 * edges.corner
        height: edges.bottomDepth
        cursorShape: Qt.SizeVerCursor
    }
    Edge {
        sides: Qt.TopEdge | Qt.LeftEdge
        width: edges.corner
        height: edges.topDepth
        cursorShape: Qt.SizeFDiagCursor
    }
    Edge {
        sides: Qt.TopEdge | Qt.LeftEdge
        y: edges.topDepth
        width: edges.leftDepth
        height: edges.corner - edges.topDepth
        cursorShape: Qt.SizeFDiagCursor
    }
    Edge {
        sides: Qt.TopEdge | Qt.RightEdge
        x: parent.width - width
        width: edges.corner
        height: edges.topDepth
        cursorShape: Qt.SizeBDiagCursor
    }
    Edge {
        sides: Qt.TopEdge | Qt.RightEdge
        x: parent.width - width
        y: edges.topDepth
        width: edges.rightDepth
        height: edges.corner - edges.topDepth
        cursorShape: Qt.SizeBDiagCursor
    }
    Edge {
        sides: Qt.BottomEdge | Qt.LeftEdge
        y: parent.height - height
        width: edges.corner
        height: edges.bottomDepth
        cursorShape: Qt.SizeBDiagCursor
    }
    Edge {
        sides: Qt.BottomEdge | Qt.LeftEdge
        y: parent.height - edges.corner
        width: edges.leftDepth
        height: edges.corner - edges.bottomDepth
        cursorShape: Qt.SizeBDiagCursor
    }
    Edge {
        objectName: "resizeBottomRight"
        sides: Qt.BottomEdge | Qt.RightEdge
        x: parent.width - width
        y: parent.height - height
        width: edges.corner
        height: edges.bottomDepth
        cursorShape: Qt.SizeFDiagCursor
    }
    Edge {
        sides: Qt.BottomEdge | Qt.RightEdge
        x: parent.width - width
        y: parent.height - edges.corner
        width: edges.rightDepth
        height: edges.corner - edges.bottomDepth
        cursorShape: Qt.SizeFDiagCursor
    }
}
