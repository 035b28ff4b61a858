import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// A menu in the theme's colours: the raised ground with a hairline and rounded corners, its words in
// the text colour, the row under the pointer on a tint. `overPicture` keeps it dark in either
// appearance, as the controls over the remote screen are.
Menu {
    id: menu
    property bool overPicture: false
    readonly property bool darkGround: overPicture || Theme.dark

    padding: 5
    palette.window: menu.darkGround ? Theme.raisedDark : Theme.raised
    palette.windowText: menu.darkGround ? Theme.textDark : Theme.text
    palette.light: menu.darkGround ? Qt.rgba(1, 1, 1, 0.09) : Qt.rgba(0, 0, 0, 0.06)
    palette.midlight: menu.darkGround ? Qt.rgba(1, 1, 1, 0.14) : Qt.rgba(0, 0, 0, 0.1)
    palette.mid: menu.darkGround ? Theme.strokeDark : Theme.stroke
    palette.dark: menu.darkGround ? Theme.strokeDark : Theme.stroke
    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 40
        radius: 10
        color: menu.palette.window
        border.color: menu.palette.dark
        border.width: 1
        // Raised off the page like the dialogs and the display picker.
        Shadow {
            blur: 14
            offsetY: 4
            corner: 10
            color: Qt.rgba(0, 0, 0, menu.darkGround ? 0.4 : 0.22)
        }
    }
}
