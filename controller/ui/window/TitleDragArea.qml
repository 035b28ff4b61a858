import QtQuick
import QtQuick.Window
import Dovrel.Controller

// Makes its area part of the window's title bar: a drag moves the window (the window manager moves it,
// as by a title bar of its own), a double click maximises it or gives it back its size. Lay it beneath
// the title area's controls: a press on one of them stays the control's. In full screen it does
// nothing.
WindowGrip {
    id: area
    enabled: WindowActions.titled(window) && !lettingGo
    onDoubleClicked: WindowActions.toggleMaximized(area.window)
}
