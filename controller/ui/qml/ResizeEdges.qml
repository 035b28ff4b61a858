pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Window

// The window's edges and corners, a few points wide and invisible, which resize the window as a frame
// would: a press hands the pointer to the window manager, which resizes from that edge. Only while the
// window has its own size (not maximised, not in full screen).
Item {
    id: edges
    // How far in from the window's edge a press resizes, and how far along from a corner it takes both
    // of the corner's edges.
    property int margin: 5
    property int corner: 14
    visible: WindowActions.windowed(Window.window)

    component Edge: MouseArea {
        required property int sides
        onPressed: Window.window.startSystemResize(sides)
    }

    Edge {
        objectName: "resizeLeft"
        sides: Qt.LeftEdge
        y: edges.corner
        width: edges.margin
        height: parent.height - 2 * edges.corner
        cursorShape: Qt.SizeHorCursor
    }
    Edge {
        objectName: "resizeRight"
        sides: Qt.RightEdge
        x: parent.width - width
        y: edges.corner
        width: edges.margin
        height: parent.height - 2 * edges.corner
        cursorShape: Qt.SizeHorCursor
    }
    Edge {
        objectName: "resizeTop"
        sides: Qt.TopEdge
        x: edges.corner
        width: parent.width - 2 * edges.corner
        height: edges.margin
        cursorShape: Qt.SizeVerCursor
    }
    Edge {
        objectName: "resizeBottom"
        sides: Qt.BottomEdge
        x: edges.corner
        y: parent.height - height
        width: parent.width - 2 * edges.corner
        height: edges.margin
        cursorShape: Qt.SizeVerCursor
    }
    Edge {
        sides: Qt.TopEdge | Qt.LeftEdge
        width: edges.corner
        height: edges.margin
        cursorShape: Qt.SizeFDiagCursor
    }
    Edge {
        sides: Qt.TopEdge | Qt.LeftEdge
        y: edges.margin
        width: edges.margin
        height: edges.corner - edges.margin
        cursorShape: Qt.SizeFDiagCursor
    }
    Edge {
        sides: Qt.TopEdge | Qt.RightEdge
        x: parent.width - width
        width: edges.corner
        height: edges.margin
        cursorShape: Qt.SizeBDiagCursor
    }
    Edge {
        sides: Qt.TopEdge | Qt.RightEdge
        x: parent.width - width
        y: edges.margin
        width: edges.margin
        height: edges.corner - edges.margin
        cursorShape: Qt.SizeBDiagCursor
    }
    Edge {
        sides: Qt.BottomEdge | Qt.LeftEdge
        y: parent.height - height
        width: edges.corner
        height: edges.margin
        cursorShape: Qt.SizeBDiagCursor
    }
    Edge {
        sides: Qt.BottomEdge | Qt.LeftEdge
        y: parent.height - edges.corner
        width: edges.margin
        height: edges.corner - edges.margin
        cursorShape: Qt.SizeBDiagCursor
    }
    Edge {
        objectName: "resizeBottomRight"
        sides: Qt.BottomEdge | Qt.RightEdge
        x: parent.width - width
        y: parent.height - height
        width: edges.corner
        height: edges.margin
        cursorShape: Qt.SizeFDiagCursor
    }
    Edge {
        sides: Qt.BottomEdge | Qt.RightEdge
        x: parent.width - width
        y: parent.height - edges.corner
        width: edges.margin
        height: edges.corner - edges.margin
        cursorShape: Qt.SizeFDiagCursor
    }
}
