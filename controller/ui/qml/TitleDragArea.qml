import QtQuick
import QtQuick.Window
import Dovrel.Controller

// Makes its area part of the window's title bar: a drag moves the window (the window manager moves it,
// as by a title bar of its own), a double click maximises it or gives it back its size. Lay it beneath
// the title area's controls: a press on one of them stays the control's. In full screen it does
// nothing.
MouseArea {
    id: area
    readonly property var window: Window.window
    // Where the press was: the window is handed over once the pointer has gone further than a click's
    // wobble.
    property point pressedAt

    // Set for a moment once the window manager has the pointer: the press it took over is let go of here
    // (it may never see its release), so that the next press is a press of its own.
    property bool lettingGo: false
    // This press went to the window manager. A busy machine can still deliver, once the window manager
    // lets go, a move of it from before the hand-over; a second hand-over then would have the window
    // manager move the window from a stale point at the next press.
    property bool handedOver: false

    enabled: WindowActions.titled(window) && !lettingGo
    onPressed: mouse => {
        area.handedOver = false
        area.pressedAt = Qt.point(mouse.x, mouse.y)
    }
    onPositionChanged: mouse => {
        if (area.handedOver
                || Math.abs(mouse.x - area.pressedAt.x) + Math.abs(mouse.y - area.pressedAt.y)
                   < Application.styleHints.startDragDistance)
            return
        area.handedOver = true
        area.window.startSystemMove()
        area.lettingGo = true
        Qt.callLater(() => area.lettingGo = false)
    }
    onDoubleClicked: WindowActions.toggleMaximized(area.window)
}
