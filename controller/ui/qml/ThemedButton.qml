import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// A push button in the theme's colours: a card-like capsule; filled with the accent green when it is
// the screen's main action; red words on a faint red when it ends something for good.
Button {
    id: button
    property bool primary: false
    property bool destructive: false
    // Over the remote picture the button keeps dark colours in either appearance.
    property bool overPicture: false

    font.pixelSize: 13
    font.weight: Font.Medium
    leftPadding: 18
    rightPadding: 18
    topPadding: 9
    bottomPadding: 9

    contentItem: Text {
        text: button.text
        textFormat: Text.PlainText
        font: button.font
        color: button.destructive ? Theme.badInk : button.primary ? Theme.accentLabel : button.overPicture ? "white" : Theme.text
        opacity: button.enabled ? 1 : 0.45
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        implicitHeight: 34
        radius: height / 2
        color: button.destructive ? Qt.alpha(Theme.bad, 0.14) : button.primary ? Theme.accent
                                  : button.overPicture ? Qt.rgba(0.08, 0.08, 0.1, 0.72) : Theme.card2
        border.color: button.destructive ? Qt.alpha(Theme.bad, 0.55) : button.primary ? "transparent"
                                         : button.overPicture ? Qt.rgba(1, 1, 1, 0.09) : Theme.stroke
        border.width: 1
        opacity: button.down ? 0.75 : button.hovered ? 0.9 : 1
    }
}
