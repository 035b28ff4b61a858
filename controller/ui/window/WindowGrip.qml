import QtQuick
import QtQuick.Window
import Dovrel.Controller

// Where the window is taken to move it (`sides` 0) or to resize it from those of its edges. The window
// manager is handed the pointer only once it has gone, still pressed, further than a click's wobble:
// never on the press alone, since a click (a touchpad's tap lasts about a millisecond) can be over
// before the window manager takes the pointer, and some window managers then follow the pointer until
// the next click.
MouseArea {
    id: grip
    property int sides: 0
    readonly property var window: Window.window
    // Where the press was.
    property point pressedAt

    // Set for a moment once the window manager has the pointer: the press it took over is let go of here
    // (it may never see its release), so that the next press is a press of its own.
    property bool lettingGo: false
    // This press went to the window manager. A busy machine can still deliver, once the window manager
    // lets go, a move of it from before the hand-over; a second hand-over then would have the window
    // manager move the window from a stale point at the next press.
    property bool handedOver: false

    enabled: !lettingGo
    onPressed: mouse => {
        grip.handedOver = false
        grip.pressedAt = Qt.point(mouse.x, mouse.y)
    }
    onPositionChanged: mouse => {
        if (grip.handedOver || !grip.pressed
                || Math.abs(mouse.x - grip.pressedAt.x) + Math.abs(mouse.y - grip.pressedAt.y)
                   < Application.styleHints.startDragDistance)
            return
        grip.handedOver = true
        // A window manager that took the release of a quick click to focus the window leaves the press
        // looking held here: it is only let go of.
        if (PointerButtons.primaryHeld()) {
            if (grip.sides === 0)
                grip.window.startSystemMove()
            else
                grip.window.startSystemResize(grip.sides)
        }
        grip.lettingGo = true
        Qt.callLater(() => grip.lettingGo = false)
    }
}
