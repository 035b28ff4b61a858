import QtQuick
import QtQuick.Controls.Basic

// A tip of the shared look: the raised ground with a hairline, its words wrapping at `wrapWidth` so
// that a long tip reads as a short paragraph instead of one line across the window.
ToolTip {
    id: tip
    property real wrapWidth: 320
    delay: 600
    padding: 8
    leftPadding: 11
    rightPadding: 11
    contentWidth: Math.min(contentItem.implicitWidth, tip.wrapWidth)
    contentItem: Text {
        text: tip.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pixelSize: Look.detail
        color: Look.text
    }
    background: Rectangle {
        radius: 8
        color: Look.raised
        border.color: Look.stroke
        border.width: 1
    }
}
