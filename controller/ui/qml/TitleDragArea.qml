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

    enabled: window !== null && window.visibility !== Window.FullScreen
    onPressed: mouse => area.pressedAt = Qt.point(mouse.x, mouse.y)
    onPositionChanged: mouse => {
        if (Math.abs(mouse.x - area.pressedAt.x) + Math.abs(mouse.y - area.pressedAt.y)
                >= Application.styleHints.startDragDistance)
            area.window.startSystemMove()
    }
    onDoubleClicked: WindowActions.toggleMaximized(area.window)
}
