import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// A tip in the theme's colours: the raised ground with a hairline, its words wrapping at 320 so that a
// long tip reads as a short paragraph instead of one line across the window.
ToolTip {
    id: tip
    delay: 600
    padding: 8
    leftPadding: 11
    rightPadding: 11
    contentWidth: Math.min(contentItem.implicitWidth, 320)
    contentItem: Text {
        text: tip.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pixelSize: 12
        color: Theme.text
    }
    background: Rectangle {
        radius: 8
        color: Theme.raised
        border.color: Theme.stroke
        border.width: 1
    }
}
